#!/usr/bin/python3
"""Tests of the reference update service: the scan exchange on its own, and a
running service (mirrors, packages with Range, FTP, HTTPS, faults, log and the
ways it stops). Run: python3 -m unittest test_service (from this folder)."""

import ftplib
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
import zlib
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_samples  # noqa: E402
import scan  # noqa: E402

CATALOGUE = os.path.join(HERE, "sample-catalogue.xml")
AUDIO = r"HDAUDIO\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_17AA21FA"
LAN = r"PCI\VEN_8086&DEV_1502"


def request_xml(devices, model="Model"):
    hw = ""
    for dev_id, hardids, compids in devices:
        # Laid out as the client prints it: each CDATA on a line of its own.
        hw += f"<hardware><id>\n\t<![CDATA[{dev_id}]]>\n</id><matchid><![CDATA[]]></matchid>"
        if hardids:
            hw += "<hardids>\n\t\t<![CDATA[" + "\n".join(hardids) + "]]>\n\t</hardids>"
        if compids:
            hw += "<compids>\n\t\t<![CDATA[" + "\n".join(compids) + "]]>\n\t</compids>"
        hw += "</hardware>"
    return (f'<?xml version="1.0" encoding="UTF-8" ?>\n<tarnwick><action>ACTION_UPDATE_DRIVER</action>'
            f'<client license="" version="" os="WIN764" lang="437" model="{model}" />'
            f"<hardwares>{hw}</hardwares></tarnwick>\n")


def form(compressed, name="tarnwick"):
    boundary = "------------------------" + uuid.uuid4().hex[:16]
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n").encode()
    body += compressed + f"\r\n--{boundary}--\r\n".encode()
    return f"multipart/form-data; boundary={boundary}", body


class ScanExchange(unittest.TestCase):
    def setUp(self):
        self.catalogue = scan.load_catalogue(CATALOGUE)

    def answer(self, devices, **kw):
        request = scan.parse_request(zlib.compress(request_xml(devices).encode()))
        text = scan.answer_document(request, self.catalogue, lambda p: "http://h/packages/" + p.file,
                                    lambda p: 1234, lambda p: p.official_link, **kw)
        return ET.fromstring(text.encode(scan.ANSWER_ENCODING))

    def test_form_part_is_found_among_others_and_keeps_binary_bytes(self):
        data = bytes(range(256)) + b"\r\n--not-a-boundary"
        ctype, body = form(data)
        self.assertEqual(scan.tarnwick_part(ctype, body), data)
        with self.assertRaises(scan.RequestError):
            scan.tarnwick_part(*form(data, name="other"))
        with self.assertRaises(scan.RequestError):
            scan.tarnwick_part("text/plain", body)

    def test_request_in_ansi_code_page_is_read(self):
        xml = request_xml([("PCI\\VEN_1", ["A", "B", "C"], [])], model="Pr\xe4zision")
        request = scan.parse_request(zlib.compress(xml.encode("windows-1252")))
        self.assertEqual(request.client["model"], "Pr\xe4zision")
        self.assertEqual(request.devices[0].ids, ["A", "B", "C"])

    def test_broken_requests_are_refused(self):
        for data in (b"not zlib", zlib.compress(b"<tarnwick>"), zlib.compress(b"<other/>"),
                     zlib.compress(b"<tarnwick/>")[:-3]):
            with self.assertRaises(scan.RequestError, msg=data):
                scan.parse_request(data)

    def test_matching_ignores_case_and_uses_hardware_and_compatible_ids(self):
        root = self.answer([
            ("HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_1", [AUDIO + "&REV_1002", AUDIO],
             ["hdaudio\\func_01&ven_10ec&dev_0269"]),
            ("PCI\\VEN_10DE&DEV_0DEF&SUBSYS_1", ["PCI\\VEN_10DE&DEV_0DEF&SUBSYS_1"],
             ["pci\\ven_10de&dev_0def"]),
            ("USB\\VID_0000&PID_0000", ["USB\\VID_0000&PID_0000"], ["USB\\Class_FF"]),
        ])
        hardware = root.findall("hardwares/hardware")
        self.assertEqual([h.findtext("id") for h in hardware],
                         ["HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_1", "PCI\\VEN_10DE&DEV_0DEF&SUBSYS_1"])
        audio = hardware[0].findall("item")
        self.assertEqual([i.findtext("ver") for i in audio], ["6.0.1.6873", "6.0.1.7541"])
        self.assertEqual([(i.findtext("hardid"), i.findtext("cp")) for i in audio], [(AUDIO, "0")] * 2)
        gpu = hardware[1].findall("item")
        self.assertEqual([i.findtext("targetos") for i in gpu], ["61", "51"])
        # The id is given back as the client sent it, with the catalogue's rank.
        self.assertEqual(gpu[0].findtext("hardid"), "pci\\ven_10de&dev_0def")
        self.assertEqual(gpu[0].findtext("cp"), "1")

    def test_item_has_every_field(self):
        item = self.answer([("PCI\\X", [LAN], [])]).find("hardwares/hardware/item")
        self.assertEqual([c.tag for c in item], [
            "hardid", "title", "ver", "guid", "link", "official_link", "infpath", "manu", "date",
            "desc", "size", "cp", "sign", "feature", "targetos"])
        self.assertEqual(item.findtext("link"), "http://h/packages/intel-lan-12.12.50.7.zip")
        self.assertEqual(item.findtext("infpath"), "intel-lan/PRO1000/Winx64/NDIS62/e1c62x64.inf")
        self.assertEqual(item.findtext("cp"), "1")
        self.assertEqual(item.findtext("size"), "1234")

    def test_nothing_known_still_names_a_hardware(self):
        root = self.answer([("USB\\X", ["USB\\X"], [])])
        self.assertEqual([h.findtext("id") for h in root.findall("hardwares/hardware")], [""])
        root = self.answer([], without_id=True)
        self.assertIsNone(root.findall("hardwares/hardware")[-1].find("id"))

    def test_sample_packages_hold_the_offered_inf_paths(self):
        with tempfile.TemporaryDirectory() as out:
            self.assertEqual(make_samples.main(["make_samples.py", CATALOGUE, out]), 0)
            first = open(os.path.join(out, "packages", self.catalogue[0].file), "rb").read()
            make_samples.main(["make_samples.py", CATALOGUE, out])
            self.assertEqual(open(os.path.join(out, "packages", self.catalogue[0].file), "rb").read(),
                             first, "archives must be the same on every run")
            import zipfile
            for pkg in self.catalogue:
                with zipfile.ZipFile(os.path.join(out, "packages", pkg.file)) as z:
                    names = z.namelist()
                self.assertIn(pkg.inf.split("/", 1)[1], names)
                self.assertEqual("setup.exe" in names, pkg.setup)
                self.assertTrue(os.path.exists(os.path.join(out, pkg.official_link)))


def make_certificate(folder):
    """A self-signed certificate for "localhost", or None without openssl."""
    openssl = shutil.which("openssl")
    if not openssl:
        return None
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost"],
                   check=True, capture_output=True, timeout=60)
    return cert, key


class ServiceClient(unittest.TestCase):
    """Requests to a service that a subclass starts in setUpClass."""

    @classmethod
    def start_service(cls, *extra):
        cls.ports = os.path.join(cls.dir, "ports.json")
        args = [sys.executable, os.path.join(HERE, "service.py"), "--catalogue", CATALOGUE,
                "--port-file", cls.ports, "--idle-timeout", "60", "--time-limit", "300", *extra]
        cls.process = subprocess.Popen(args)
        cls.port = wait_for_ports(cls.ports, cls.process)

    @classmethod
    def tearDownClass(cls):
        try:
            cls.call("POST", "/_control/shutdown")
        except OSError:
            pass
        try:
            cls.process.wait(10)
        except subprocess.TimeoutExpired:
            cls.process.kill()
            cls.process.wait(10)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.call("POST", "/_control/reset")

    @classmethod
    def call(cls, method, path, body=None, headers=None, port=None, tls=False):
        port = port or cls.port["control"]
        if tls:
            ctx = ssl.create_default_context(cafile=cls.tls[0])
            conn = http.client.HTTPSConnection("localhost", port, timeout=30, context=ctx)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            r = conn.getresponse()
            return r.status, dict(r.getheaders()), r.read()
        finally:
            conn.close()

    def faults(self, **by_tag):
        status, _, body = self.call("POST", "/_control/faults", json.dumps(by_tag).encode())
        self.assertEqual(status, 200, body)

    def scan(self, mirror=1, devices=None, tls=False):
        devices = devices or [("PCI\\VEN_8086&DEV_1502&SUBSYS_1", [LAN], [])]
        ctype, body = form(zlib.compress(request_xml(devices).encode()))
        port = self.port["https"] if tls else self.port["mirrors"][mirror - 1]
        return self.call("POST", "/", body, {"Content-Type": ctype}, port=port, tls=tls)

    def log_lines(self):
        return self.call("GET", "/_control/log?lines")[2].decode().splitlines()


class RunningService(ServiceClient):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qm-service-test-")
        make_samples.main(["make_samples.py", CATALOGUE, cls.dir])
        cls.extra = os.path.join(cls.dir, "extra")
        os.mkdir(cls.extra)
        cls.blob = bytes((i * 7) % 251 for i in range(50000))
        with open(os.path.join(cls.extra, "blob.bin"), "wb") as f:
            f.write(cls.blob)
        cls.tls = make_certificate(cls.dir)
        extra = ["--packages", os.path.join(cls.dir, "packages"), "--packages", cls.extra,
                 "--pages", os.path.join(cls.dir, "pages"), "--ftp",
                 "--log", os.path.join(cls.dir, "log.jsonl")]
        if cls.tls:
            extra += ["--tls-cert", cls.tls[0], "--tls-key", cls.tls[1]]
        cls.start_service(*extra)

    def get(self, path, mirror=1, headers=None):
        return self.call("GET", path, headers=headers, port=self.port["mirrors"][mirror - 1])

    def test_scan_answer_links_name_the_server_asked(self):
        status, _, body = self.scan(mirror=2)
        self.assertEqual(status, 200)
        item = ET.fromstring(body).find("hardwares/hardware/item")
        link = item.findtext("link")
        self.assertEqual(link, f"http://127.0.0.1:{self.port['mirrors'][1]}/packages/intel-lan-12.12.50.7.zip")
        self.assertEqual(int(item.findtext("size")),
                         os.path.getsize(os.path.join(self.dir, "packages", "intel-lan-12.12.50.7.zip")))
        self.assertTrue(item.findtext("official_link").endswith("/pages/intel-lan.html"))
        self.assertEqual(self.log_lines(), ["2 POST / range=-"])

    def test_ftp_package_link_and_download(self):
        _, _, body = self.scan(devices=[("PCI\\U", ["PCI\\VEN_8086&DEV_1E31"], [])])
        link = ET.fromstring(body).findtext("hardwares/hardware/item/link")
        self.assertEqual(link, f"ftp://127.0.0.1:{self.port['ftp']}/intel-usb3-1.0.10.255.zip")
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.port["ftp"], timeout=30)
        ftp.login()
        data = bytearray()
        ftp.retrbinary("RETR intel-usb3-1.0.10.255.zip", data.extend)
        ftp.quit()
        self.assertEqual(bytes(data), open(os.path.join(self.dir, "packages", "intel-usb3-1.0.10.255.zip"), "rb").read())
        self.assertIn("ftp RETR /intel-usb3-1.0.10.255.zip range=-", self.log_lines())

    def test_range_requests(self):
        status, headers, body = self.get("/packages/blob.bin", headers={"Range": "bytes=1000-"})
        self.assertEqual((status, body), (206, self.blob[1000:]))
        self.assertEqual(headers["Content-Range"], f"bytes 1000-49999/{len(self.blob)}")
        status, _, body = self.get("/packages/blob.bin", headers={"Range": "bytes=50000-"})
        self.assertEqual(status, 416)
        self.faults(**{"1": {"ignore_range": True}})
        status, _, body = self.get("/packages/blob.bin", headers={"Range": "bytes=1000-"})
        self.assertEqual((status, body), (200, self.blob))
        self.assertEqual(self.log_lines()[-1], "1 GET /packages/blob.bin range=bytes=1000-")
        self.faults(**{"1": {"range_shift": 24}})
        status, headers, body = self.get("/packages/blob.bin", headers={"Range": "bytes=1000-"})
        self.assertEqual((status, body), (206, self.blob[1024:]))
        self.assertEqual(headers["Content-Range"], f"bytes 1024-49999/{len(self.blob)}")

    def test_request_headers_are_logged(self):
        self.get("/packages/blob.bin", headers={"User-Agent": "probe/1", "Connection": "close"})
        entry = json.loads(self.call("GET", "/_control/log")[2])[-1]
        self.assertEqual(entry["headers"]["User-Agent"], "probe/1")
        self.assertEqual(entry["headers"]["Connection"], "close")

    def test_files_outside_the_package_folders_are_not_served(self):
        for path in ("/packages/..%2Fports.json", "/packages/%2E%2E", "/ports.json", "/packages/"):
            self.assertEqual(self.get(path)[0], 404, path)

    def test_cut_connection_and_status_faults(self):
        self.faults(**{"1": {"cut_after": 300}, "3": {"status": 503}})
        conn = http.client.HTTPConnection("127.0.0.1", self.port["mirrors"][0], timeout=30)
        conn.request("GET", "/packages/blob.bin")
        response = conn.getresponse()
        with self.assertRaises(http.client.IncompleteRead) as cut:
            response.read()
        self.assertEqual(len(cut.exception.partial), 300)
        conn.close()
        self.assertEqual(self.scan(mirror=3)[0], 503)
        self.assertEqual(self.get("/packages/blob.bin", mirror=3)[0], 503)
        self.assertEqual(self.scan(mirror=2)[0], 200)

    def test_down_mirror_refuses_and_comes_back_on_its_port(self):
        self.faults(**{"2": {"down": True}})
        with self.assertRaises(ConnectionRefusedError):
            self.scan(mirror=2)
        self.call("POST", "/_control/reset")
        self.assertEqual(self.scan(mirror=2)[0], 200)

    def test_answer_faults(self):
        self.faults(**{"1": {"answer": "oversize"}, "2": {"answer": "malformed"},
                       "3": {"answer": "no_id"}})
        status, _, body = self.scan(mirror=1)
        self.assertGreater(len(body), 5 * 1024 * 1024)
        ET.fromstring(body)  # still a document
        status, _, body = self.scan(mirror=2)
        with self.assertRaises(ET.ParseError):
            ET.fromstring(body)
        hardware = ET.fromstring(self.scan(mirror=3)[2]).findall("hardwares/hardware")
        self.assertIsNotNone(hardware[0].find("id"))
        self.assertIsNone(hardware[-1].find("id"))

    def test_bad_requests_and_controls(self):
        self.assertEqual(self.call("POST", "/", b"x", {"Content-Type": "text/plain"},
                                   port=self.port["mirrors"][0])[0], 400)
        self.assertEqual(self.call("POST", "/_control/faults", b'{"9": {}}')[0], 400)
        self.assertEqual(self.call("POST", "/_control/faults", b"[1]")[0], 400)

    def test_redirect_and_https(self):
        if not self.tls:
            self.skipTest("openssl is not installed")
        self.faults(**{"1": {"redirect": "https"}})
        status, headers, _ = self.get("/packages/blob.bin")
        self.assertEqual(status, 302)
        self.assertEqual(headers["Location"], f"https://localhost:{self.port['https']}/packages/blob.bin")
        status, headers, _ = self.scan(mirror=1)
        self.assertEqual((status, headers["Location"]), (307, f"https://localhost:{self.port['https']}/"))
        # An unfollowable redirect: no Location, and a body that is no package.
        self.faults(**{"1": {"status": 302}})
        status, headers, body = self.get("/packages/blob.bin")
        self.assertEqual((status, body), (302, b"fault on demand\n"))
        self.assertNotIn("Location", headers)
        status, _, body = self.scan(tls=True)
        self.assertEqual(status, 200)
        self.assertTrue(ET.fromstring(body).findtext("hardwares/hardware/item/link").startswith(
            f"https://localhost:{self.port['https']}/packages/"))
        # To itself: once.
        self.faults(**{"https": {"redirect": "https"}})
        status, headers, _ = self.scan(tls=True)
        self.assertEqual((status, headers["Location"]),
                         (307, f"https://localhost:{self.port['https']}/?redirected"))
        status, _, _ = self.call("POST", "/?redirected", b"", port=self.port["https"], tls=True)
        self.assertEqual(status, 400)  # served: an empty form is no scan request

    def test_slow_body_and_delay_still_deliver(self):
        self.faults(**{"1": {"slow_body": 0.01, "delay": 0.05}})
        status, _, body = self.get("/packages/intel-lan-12.12.50.7.zip")
        self.assertEqual(status, 200)
        self.assertEqual(len(body), os.path.getsize(os.path.join(self.dir, "packages", "intel-lan-12.12.50.7.zip")))

    def raw_get(self, path, mirror=1):
        """The bytes of an answer as they arrive, and how the connection
        ended: "close" (FIN) or "reset" (RST)."""
        sock = socket.create_connection(("127.0.0.1", self.port["mirrors"][mirror - 1]), timeout=30)
        sock.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        data, ending = b"", "close"
        try:
            while True:
                piece = sock.recv(65536)
                if not piece:
                    break
                data += piece
        except ConnectionResetError:
            ending = "reset"
        finally:
            sock.close()
        head, _, body = data.partition(b"\r\n\r\n")
        return head.decode("latin-1").split("\r\n"), body, ending

    def test_reset_after_ends_with_rst_not_fin(self):
        self.faults(**{"1": {"reset_after": 300}})
        head, body, ending = self.raw_get("/packages/blob.bin")
        self.assertEqual(head[0], "HTTP/1.1 200 OK")
        self.assertEqual(ending, "reset")
        self.assertLessEqual(len(body), 300)
        self.assertEqual(body, self.blob[:len(body)])
        # cut_after, for comparison, closes in order.
        self.faults(**{"1": {"cut_after": 300}})
        _, body, ending = self.raw_get("/packages/blob.bin")
        self.assertEqual((ending, body), ("close", self.blob[:300]))
        # The scan answer is reset the same way.
        self.faults(**{"2": {"reset_after": 10}})
        with self.assertRaises((ConnectionResetError, http.client.IncompleteRead)):
            self.scan(mirror=2)

    def test_lying_content_length(self):
        self.faults(**{"1": {"length_delta": 100}, "2": {"length_delta": -100}})
        head, body, ending = self.raw_get("/packages/blob.bin")
        self.assertIn(f"Content-Length: {len(self.blob) + 100}", head)
        self.assertEqual((body, ending), (self.blob, "close"))
        head, body, _ = self.raw_get("/packages/blob.bin", mirror=2)
        self.assertIn(f"Content-Length: {len(self.blob) - 100}", head)
        self.assertEqual(body, self.blob)
        # With a Range the part is as long as asked, its header is not.
        self.faults(**{"1": {"length_delta": -7}})
        status, headers, body = self.get("/packages/blob.bin", headers={"Range": "bytes=1000-"})
        self.assertEqual((status, headers["Content-Length"]), (206, str(len(self.blob) - 1007)))
        self.assertEqual(body, self.blob[1000:-7])

    def test_garbage_status_line(self):
        self.faults(**{"1": {"status_line": "SPAM\r\nSPAM"}, "2": {"status_line": "HTTP/1.1 2x0 OK"}})
        head, body, _ = self.raw_get("/packages/blob.bin")
        self.assertEqual(head[0], "SPAM  SPAM")  # one line, whatever it was given
        self.assertIn(f"Content-Length: {len(self.blob)}", head)
        self.assertEqual(body, self.blob)
        self.assertEqual(self.raw_get("/packages/blob.bin", mirror=2)[0][0], "HTTP/1.1 2x0 OK")

    def test_redirect_loop(self):
        self.faults(**{"1": {"redirect_loop": True}})
        status, headers, _ = self.get("/packages/blob.bin?x=1")
        self.assertEqual(status, 302)
        self.assertEqual(headers["Location"], f"http://127.0.0.1:{self.port['mirrors'][0]}/packages/blob.bin?x=1")
        status, headers, _ = self.scan(mirror=1)
        self.assertEqual(status, 302)
        self.assertEqual(headers["Location"], f"http://127.0.0.1:{self.port['mirrors'][0]}/")

    def test_trickle_in_small_pieces_still_delivers(self):
        self.faults(**{"1": {"slow_body": 0.001, "chunk": 997}})
        head, body, ending = self.raw_get("/packages/blob.bin")
        self.assertEqual((head[0], body, ending), ("HTTP/1.1 200 OK", self.blob, "close"))


class PreparedAnswer(ServiceClient):
    """--answer-file: every scan request gets the file's bytes."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qm-service-answer-")
        cls.answer = os.path.join(cls.dir, "answer.xml")
        cls.start_service("--packages", cls.dir, "--answer-file", cls.answer)

    def write_answer(self, data):
        with open(self.answer, "wb") as f:
            f.write(data)

    def test_every_scan_gets_the_file_as_it_stands(self):
        # Bytes the service's own answers never hold: CRLF, a Windows-1252
        # letter, a device the request does not name.
        data = (b'<?xml version="1.0" encoding="windows-1252"?>\r\n<tarnwick><hardwares>'
                b"<hardware><id>USB\\VID_1234&amp;PID_0001</id><item><title>Pr\xe4zision</title>"
                b"</item></hardware></hardwares></tarnwick>\r\n")
        self.write_answer(data)
        self.assertEqual(self.scan(mirror=1)[::2], (200, data))
        # Whatever the request holds, even no form at all.
        status, headers, body = self.call("POST", "/", b"x" * 100000, {"Content-Type": "text/plain"},
                                          port=self.port["mirrors"][1])
        self.assertEqual((status, body), (200, data))
        self.assertEqual(headers["Content-Type"], "text/xml")
        # Read at each request: a new file is the next answer.
        self.write_answer(data.replace(b"0001", b"0002"))
        self.assertIn(b"PID_0002", self.scan(mirror=3)[2])
        self.assertEqual(self.log_lines(), ["1 POST / range=-", "2 POST / range=-", "3 POST / range=-"])

    def test_faults_still_apply(self):
        self.write_answer(b"<tarnwick><hardwares><hardware><id>A</id></hardware></hardwares></tarnwick>")
        self.faults(**{"1": {"status": 503}, "2": {"answer": "no_id"}, "3": {"answer": "oversize"}})
        self.assertEqual(self.scan(mirror=1)[0], 503)
        hardware = ET.fromstring(self.scan(mirror=2)[2]).findall("hardwares/hardware")
        self.assertEqual([h.findtext("id") for h in hardware], ["A", None])
        self.assertGreater(len(self.scan(mirror=3)[2]), 5 * 1024 * 1024)
        self.faults(**{"3": {"answer": "malformed"}})
        self.assertEqual(self.scan(mirror=3)[2], b"Service temporarily unavailable")
        self.assertEqual(self.call("POST", "/other", b"", port=self.port["mirrors"][1])[0], 404)

    def test_missing_file_is_a_server_error(self):
        if os.path.exists(self.answer):
            os.remove(self.answer)
        status, _, body = self.scan()
        self.assertEqual(status, 500)
        self.assertIn(b"prepared answer", body)


def wait_for_ports(path, process, limit=30):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"the service ended with {process.returncode}")
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                return json.load(f)
        time.sleep(0.05)
    process.kill()
    raise RuntimeError("the service did not start")


class Stopping(unittest.TestCase):
    def start(self, *extra):
        folder = tempfile.mkdtemp(prefix="qm-service-stop-")
        self.addCleanup(shutil.rmtree, folder, True)
        ports = os.path.join(folder, "ports.json")
        process = subprocess.Popen([sys.executable, os.path.join(HERE, "service.py"), "--catalogue",
                                    CATALOGUE, "--packages", folder, "--port-file", ports, *extra])
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait(10)))
        return process, wait_for_ports(ports, process), ports

    def test_idle_timeout(self):
        process, _, ports = self.start("--idle-timeout", "0.5")
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(os.path.exists(ports))

    def test_lifeline_closed(self):
        process, port, _ = self.start("--idle-timeout", "60", "--detach")
        sock = socket.create_connection(("127.0.0.1", port["control"]), timeout=30)
        sock.sendall(b"GET /_control/hold HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertIn(b"200", sock.recv(100))
        self.assertIsNone(process.poll())
        sock.close()
        self.assertEqual(process.wait(30), 0)

    def test_parent_gone(self):
        parent = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        self.addCleanup(lambda: parent.poll() is None and (parent.kill(), parent.wait(10)))
        process, _, _ = self.start("--parent-pid", str(parent.pid))
        parent.kill()
        parent.wait(10)
        self.assertEqual(process.wait(30), 0)


if __name__ == "__main__":
    unittest.main()

"""The scan exchange of the reference update service: the catalogue of driver
packages, the client's request (a multipart form part "tarnwick" holding a
zlib-compressed XML document) and the XML answer with the offers."""

import re
import zlib
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from xml.sax.saxutils import escape

# Limits that keep a hostile or broken request from eating the service.
MAX_INFLATED_REQUEST = 16 * 1024 * 1024

# Windows client texts are 8-bit in the client's ANSI code page; the
# reference service speaks the Western European one.
ANSWER_ENCODING = "windows-1252"


# The hardware without id that the "no_id" fault adds to an answer.
NO_ID_HARDWARE = "<hardware><item><title>no id</title></item></hardware>"


class RequestError(Exception):
    """The request is not a scan request the service can read."""


@dataclass
class Package:
    file: str                 # file name under the packages folder
    title: str
    version: str
    date: str                 # yyyy-mm-dd
    manufacturer: str
    description: str
    inf: str                  # INF path as offered: first folder, then the path inside the archive
    sign: int
    feature: str              # hexadecimal text as sent
    targetos: int
    guid: str
    official_link: str        # absolute URL, or a path on this service
    protocol: str = "http"    # "http": served by the server asked; "ftp": by the FTP server
    setup: bool = False       # the sample archive holds a setup program stand-in
    ids: list = field(default_factory=list)  # [(hardware id, cp)]


def load_catalogue(path):
    """Reads a catalogue file (see sample-catalogue.xml) into a list of Package."""
    root = ET.parse(path).getroot()
    if root.tag != "catalogue":
        raise ValueError(f"{path}: the root element must be <catalogue>")
    packages = []
    for p in root.findall("package"):
        a = p.attrib
        try:
            pkg = Package(
                file=a["file"], title=a["title"], version=a["version"], date=a["date"],
                manufacturer=a.get("manufacturer", ""),
                description=(p.findtext("description") or "").strip(),
                inf=a.get("inf", ""), sign=int(a.get("sign", "0")),
                feature=a.get("feature", "ff"), targetos=int(a.get("targetos", "0")),
                guid=a.get("guid", ""), official_link=a.get("official-link", ""),
                protocol=a.get("protocol", "http"), setup=(a.get("setup") == "yes"))
        except KeyError as e:
            raise ValueError(f"{path}: a package lacks the attribute {e}") from None
        if pkg.protocol not in ("http", "ftp"):
            raise ValueError(f"{path}: {pkg.file}: protocol must be http or ftp")
        for h in p.findall("hardware"):
            pkg.ids.append((h.attrib["id"], int(h.attrib.get("cp", "0"))))
        packages.append(pkg)
    return packages


def tarnwick_part(content_type, body):
    """The bytes of the form part named "tarnwick" of a multipart/form-data body."""
    m = re.match(r'\s*multipart/form-data\s*;.*?boundary="?([^";]+)"?', content_type or "", re.I)
    if not m:
        raise RequestError("the request is not multipart/form-data")
    delimiter = b"--" + m.group(1).encode("latin-1")
    for chunk in body.split(delimiter)[1:]:
        if chunk.startswith(b"--"):
            break  # closing delimiter
        head, sep, content = chunk.partition(b"\r\n\r\n")
        if not sep:
            continue
        if re.search(rb'content-disposition:[^\r\n]*\bname="tarnwick"', head, re.I):
            # The part ends with the CRLF that precedes the next delimiter.
            return content[:-2] if content.endswith(b"\r\n") else content
    raise RequestError('the form has no part named "tarnwick"')


@dataclass
class Device:
    id: str
    matchid: str
    ids: list  # hardware ids, then compatible ids


@dataclass
class Request:
    action: str
    client: dict
    devices: list


def _text(element, name):
    """The text of a child element without the line breaks and indentation
    the client prints around its CDATA sections; None without the child."""
    child = element.find(name)
    return (child.text or "").strip() if child is not None else None


def inflate_request(compressed):
    """The bytes of a scan request document as the client wrote them."""
    try:
        d = zlib.decompressobj()
        raw = d.decompress(compressed, MAX_INFLATED_REQUEST)
        if d.unconsumed_tail:
            raise RequestError("the request document is too large")
        if not d.eof:
            raise RequestError("the request is not one complete zlib stream")
    except zlib.error as e:
        raise RequestError(f"the request does not inflate: {e}") from None
    return raw


def parse_request(compressed):
    """Inflates and reads a scan request document."""
    return parse_document(inflate_request(compressed))


def parse_document(raw):
    """Reads the bytes of a scan request document."""
    # The client declares UTF-8 but writes its ANSI code page; take the bytes
    # as UTF-8 when they are, else as Windows-1252.
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        text = raw.decode("windows-1252", errors="replace")
    text = re.sub(r"^\s*<\?xml[^>]*\?>", "", text, count=1)
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        raise RequestError(f"the request document does not parse: {e}") from None
    if root.tag != "tarnwick":
        raise RequestError("the request's root element is not <tarnwick>")
    client = root.find("client")
    hardwares = root.find("hardwares")
    if client is None or hardwares is None:
        raise RequestError("the request lacks <client> or <hardwares>")
    devices = []
    for hw in hardwares.findall("hardware"):
        ids = []
        for name in ("hardids", "compids"):
            value = _text(hw, name)
            if value:
                ids.extend(v.strip() for v in value.split("\n") if v.strip())
        devices.append(Device(id=_text(hw, "id") or "", matchid=_text(hw, "matchid") or "", ids=ids))
    return Request(action=(_text(root, "action") or ""), client=dict(client.attrib), devices=devices)


def offers_for(device, catalogue):
    """(package, matched id as the client sent it, cp) for every package that
    serves one of the device's ids, in catalogue order. Ids compare without
    regard to case; of several matches the one with the lowest cp counts."""
    offers = []
    for pkg in catalogue:
        best = None
        for sent in device.ids:
            for served, cp in pkg.ids:
                if sent.upper() == served.upper() and (best is None or cp < best[1]):
                    best = (sent, cp)
        if best:
            offers.append((pkg, best[0], best[1]))
    return offers


def _field(name, value):
    return f"<{name}>{escape(str(value))}</{name}>"


def item_xml(pkg, hardid, cp, size, link, official_link):
    fields = [
        ("hardid", hardid), ("title", pkg.title), ("ver", pkg.version), ("guid", pkg.guid),
        ("link", link), ("official_link", official_link), ("infpath", pkg.inf),
        ("manu", pkg.manufacturer), ("date", pkg.date), ("desc", pkg.description),
        ("size", size), ("cp", cp), ("sign", pkg.sign), ("feature", pkg.feature),
        ("targetos", pkg.targetos),
    ]
    return "<item>" + "".join(_field(n, v) for n, v in fields) + "</item>"


def answer_document(request, catalogue, link_for, size_for, official_link_for, without_id=False):
    """The answer text (str) for a request. link_for(pkg), size_for(pkg) and
    official_link_for(pkg) make the per-package values. Devices the catalogue
    does not know are left out; when none is known the answer holds one
    hardware with an empty id, which names no device, because the client
    takes an answer without any hardware for a broken one. without_id adds a
    hardware without id after the known ones (a fault for tests)."""
    parts = []
    for device in request.devices:
        offers = offers_for(device, catalogue)
        if not offers:
            continue
        items = "".join(item_xml(p, hid, cp, size_for(p), link_for(p), official_link_for(p))
                        for p, hid, cp in offers)
        parts.append(f"<hardware>{_field('id', device.id)}{items}</hardware>")
    if not parts:
        parts.append("<hardware><id></id></hardware>")
    if without_id:
        parts.append(NO_ID_HARDWARE)
    return (f'<?xml version="1.0" encoding="{ANSWER_ENCODING}"?>\n'
            "<tarnwick><hardwares>" + "".join(parts) + "</hardwares></tarnwick>\n")

#!/usr/bin/python3
"""Makes a large machine profile and the reference service's answer to it, for
the benchmarks.

  make_profile.py --devices N --profile OUT.xml --answer OUT.xml
                  [--download-base URL] [--updates U] [--store-packages P]
                  [--answer-bytes B] [--package-size BYTES] [--seed S]

The profile (format: profiles/README.md) is a Windows 7 SP1 64-bit PC with N
device instances: PCI functions (display, sound, network, storage, USB host
controllers, bridges), HD Audio codecs, USB devices and hubs, HID collections,
monitors, Bluetooth services, ACPI devices (batteries, keyboards, buttons),
disk drives, volumes and root-enumerated software devices, each with hardware
and compatible ids the way Windows writes them, in Windows 7's standard setup
classes with their GUIDs. Most have an installed driver (provider, date,
version, INF name, matching id, rank); a few have none or an incomplete
driver key, some are instances of a device already listed (folded into one by
the scan), and a few are not attached (present="0").

The answer is what the reference update service (update-service/scan.py)
sends for this profile's scan request: the devices the scan keeps, in the
same order, each known one with several offers (`item`s), until the answer
is about B bytes (default 1,000 per device, so 5,000 devices give about
5 MB, below the client's 5,242,880-byte answer buffer; never more than
5,100,000 bytes). Exactly U kept devices (default 5 % of N) come out as
updates when the client evaluates the answer on this Windows 7 machine: one
offer newer than the installed driver, or any offer for a device without a
driver. Every other offer is older than the installed driver, or signed
worse, so it is no update. The script checks this with the client's ranking
rules before it writes anything.

Offer links are --download-base (default http://127.0.0.1:9/packages/, a
loopback placeholder) followed by a package file name; packages are shared by
the devices of one driver family. --package-size gives every offer that size
(default: realistic sizes from 200 KB to 300 MB).

--store-packages P adds a <driver_store> under %QUILLMARK_DRIVER_STORE%\\NAME
(NAME: the profile's file name without .xml) with P packages, the store
copies of the first P third-party INF files (oemN.inf) the devices use, each
with a few files of 4 KB to 256 KB; profiles/make_driver_store.py turns it
into files.

The same arguments and seed (default 1) always give the same bytes. The
sizes are printed at the end."""

import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "update-service"))
import scan  # noqa: E402  the reference service's answer format
from xml.sax.saxutils import escape  # noqa: E402

ANSWER_BUFFER = 5 * 1024 * 1024   # the client's answer buffer, its NUL included
ANSWER_CEILING = 5_100_000         # the largest answer this script makes
OS_VERSION = 61                    # Windows 7, as the client ranks offers

CLASSES = [  # (name, GUID, description, image index), Windows 7's standard list
    ("PrintQueue", "{1ED2BBF9-11F0-4084-B21F-AD83A8E6DCDC}", "Print queues", 19),
    ("WCEUSBS", "{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}", "Windows CE USB Devices", 41),
    ("USB", "{36FC9E60-C465-11CF-8056-444553540000}", "Universal Serial Bus controllers", 45),
    ("PnpPrinters", "{4658EE7E-F050-11D1-B6BD-00C04FA372A7}", "IEEE 1394 and SCSI printers", 19),
    ("Adapter", "{4D36E964-E325-11CE-BFC1-08002BE10318}", "Adapters", 5),
    ("CDROM", "{4D36E965-E325-11CE-BFC1-08002BE10318}", "DVD/CD-ROM drives", 3),
    ("Computer", "{4D36E966-E325-11CE-BFC1-08002BE10318}", "Computer", 0),
    ("DiskDrive", "{4D36E967-E325-11CE-BFC1-08002BE10318}", "Disk drives", 6),
    ("Display", "{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display adapters", 23),
    ("HDC", "{4D36E96A-E325-11CE-BFC1-08002BE10318}", "IDE ATA/ATAPI controllers", 7),
    ("Keyboard", "{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboards", 8),
    ("MEDIA", "{4D36E96C-E325-11CE-BFC1-08002BE10318}", "Sound, video and game controllers", 11),
    ("Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}", "Modems", 12),
    ("Monitor", "{4D36E96E-E325-11CE-BFC1-08002BE10318}", "Monitors", 24),
    ("Mouse", "{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mice and other pointing devices", 13),
    ("Net", "{4D36E972-E325-11CE-BFC1-08002BE10318}", "Network adapters", 15),
    ("Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}", "Ports (COM & LPT)", 17),
    ("Printer", "{4D36E979-E325-11CE-BFC1-08002BE10318}", "Printers", 19),
    ("SCSIAdapter", "{4D36E97B-E325-11CE-BFC1-08002BE10318}", "Storage controllers", 21),
    ("System", "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System devices", 22),
    ("Unknown", "{4D36E97E-E325-11CE-BFC1-08002BE10318}", "Other devices", 18),
    ("Processor", "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}", "Processors", 45),
    ("SmartCardReader", "{50DD5230-BA8A-11D1-BF5D-0000F805F530}", "Smart card readers", 39),
    ("Sensor", "{5175D334-C371-4806-B3BA-71FD53C9258D}", "Sensors", 49),
    ("Biometric", "{53D29EF7-377C-4D14-864B-EB3A85769359}", "Biometric Devices", 51),
    ("1394", "{6BDD1FC1-810F-11D0-BEC7-08002BE2092F}", "IEEE 1394 Bus host controllers", 9),
    ("Image", "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", "Imaging devices", 38),
    ("Volume", "{71A27CDD-812A-11D0-BCF7-00AA00B7B32A}", "Storage volumes", 5),
    ("Battery", "{72631E54-78A4-11D0-BCF7-00AA00B7B32A}", "Batteries", 30),
    ("HIDClass", "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "Human Interface Devices", 32),
    ("LegacyDriver", "{8ECC055D-047F-11D1-A537-0000F8753ED1}", "Non-Plug and Play Drivers", 22),
    ("Bluetooth", "{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}", "Bluetooth Radios", 40),
    ("WPD", "{EEC5AD98-8080-425F-922A-DABF3DE3F69A}", "Portable Devices", 42),
]
GUID = {name: guid for name, guid, _, _ in CLASSES}

PCI_VENDORS = {  # vendor id -> (provider, name prefix)
    "8086": ("Intel Corporation", "Intel(R)"),
    "10DE": ("NVIDIA", "NVIDIA"),
    "1002": ("Advanced Micro Devices, Inc.", "AMD"),
    "10EC": ("Realtek Semiconductor Corp.", "Realtek"),
    "14E4": ("Broadcom", "Broadcom"),
    "168C": ("Qualcomm Atheros Communications Inc.", "Qualcomm Atheros"),
    "1B21": ("ASMedia Technology Inc", "ASMedia"),
    "1022": ("Advanced Micro Devices, Inc.", "AMD"),
    "1180": ("Ricoh Company", "Ricoh"),
    "1969": ("Qualcomm Atheros Communications Inc.", "Atheros"),
}
PCI_KINDS = [  # (class code, setup class, name, inbox INF or None for a vendor INF, weight)
    ("030000", "Display", "Graphics Adapter", None, 4),
    ("040300", "MEDIA", "High Definition Audio Controller", "hdaudbus.inf", 2),
    ("020000", "Net", "Gigabit Ethernet Controller", None, 4),
    ("028000", "Net", "Wireless Network Adapter", None, 4),
    ("010601", "HDC", "SATA AHCI Controller", None, 2),
    ("010400", "SCSIAdapter", "RAID Controller", None, 1),
    ("0C0320", "USB", "USB Enhanced Host Controller", "usbport.inf", 3),
    ("0C0330", "USB", "USB 3.0 eXtensible Host Controller", None, 2),
    ("060400", "System", "PCI Express Root Port", "machine.inf", 4),
    ("060100", "System", "LPC Interface Controller", "machine.inf", 1),
    ("0C0500", "System", "SMBus Controller", None, 2),
    ("078000", "System", "Management Engine Interface", None, 2),
    ("080500", "System", "SD Host Controller", "sdbus.inf", 1),
    ("0C0010", "1394", "OHCI Compliant IEEE 1394 Host Controller", "1394.inf", 1),
]
HDA_CODECS = [("10EC", "Realtek High Definition Audio", "Realtek Semiconductor Corp."),
              ("8086", "Intel(R) Display Audio", "Intel(R) Corporation"),
              ("10DE", "NVIDIA High Definition Audio", "NVIDIA Corporation"),
              ("1002", "AMD High Definition Audio Device", "Advanced Micro Devices"),
              ("14F1", "Conexant SmartAudio HD", "Conexant")]
USB_VENDORS = [("046D", "Logitech"), ("045E", "Microsoft"), ("04F2", "Chicony Electronics"),
               ("0BDA", "Realtek Semiconductor Corp."), ("0A5C", "Broadcom"),
               ("04A9", "Canon"), ("03F0", "Hewlett-Packard"), ("05AC", "Apple, Inc."),
               ("138A", "Validity Sensors"), ("0781", "SanDisk"), ("1199", "Sierra Wireless"),
               ("04E8", "Samsung Electronics")]
USB_KINDS = [  # (interface class, subclass, protocol, setup class, name, inbox INF, weight)
    ("0E", "01", "00", "Image", "USB Video Device", "usbvideo.inf", 3),
    ("02", "02", "01", "Modem", "Mobile Broadband Modem", None, 1),
    ("E0", "01", "01", "Bluetooth", "Bluetooth Radio", None, 2),
    ("07", "01", "02", "Printer", "USB Printing Support", "usbprint.inf", 2),
    ("06", "01", "01", "WPD", "Portable Device", "wpdmtp.inf", 2),
    ("0B", "00", "00", "SmartCardReader", "USB Smart Card Reader", None, 1),
    ("FF", "00", "00", "Biometric", "Fingerprint Sensor", None, 1),
    ("FF", "FF", "FF", "Net", "USB Wireless LAN Adapter", None, 2),
    ("09", "00", "00", "USB", "Generic USB Hub", "usb.inf", 3),
    ("00", "00", "00", "USB", "USB Composite Device", "usb.inf", 3),
    ("08", "06", "50", "USB", "USB Mass Storage Device", "usbstor.inf", 2),
]
HID_KINDS = [  # (usage page, usage, setup class, name, compatible id)
    ("0001", "0006", "Keyboard", "HID Keyboard Device", "HID_DEVICE_SYSTEM_KEYBOARD"),
    ("0001", "0002", "Mouse", "HID-compliant mouse", "HID_DEVICE_SYSTEM_MOUSE"),
    ("000C", "0001", "HIDClass", "HID-compliant consumer control device", "HID_DEVICE_SYSTEM_CONSUMER"),
    ("FF00", "0001", "HIDClass", "HID-compliant device", "HID_DEVICE_UP:FF00_U:0001"),
    ("0001", "0080", "HIDClass", "HID-compliant system controller", "HID_DEVICE_SYSTEM_CONTROL"),
]
MONITOR_VENDORS = [("LEN", "Lenovo"), ("DEL", "Dell"), ("SAM", "Samsung"), ("ACR", "Acer"),
                   ("AUO", "AU Optronics"), ("LGD", "LG Display"), ("BNQ", "BenQ")]
DISKS = ["ST500LM012 HN-M500MBB", "WDC WD10EZEX-08WN4A0", "Samsung SSD 850 EVO 250GB",
         "TOSHIBA MQ01ABD100", "HGST HTS725050A7E630", "KINGSTON SV300S37A120G"]


class Gen:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.used_ids = set()
        self.oem_next = 3
        self.families = {}  # family key -> driver family

    def hexid(self, digits):
        return "".join(self.rng.choice("0123456789ABCDEF") for _ in range(digits))

    def instance_suffix(self):
        r = self.rng
        return f"{r.randint(3, 7)}&{r.getrandbits(28):x}&0&{r.randint(0, 0xFF):02X}"

    def unique(self, make):
        while True:
            value = make()
            if value.upper() not in self.used_ids:
                self.used_ids.add(value.upper())
                return value

    def date(self, lo_year=2008, hi_year=2013):
        r = self.rng
        return (r.randint(lo_year, hi_year), r.randint(1, 12), r.randint(1, 28))

    def family(self, key, provider, inbox_inf, title):
        """One driver family: an INF name and version line shared by the
        devices of one vendor and kind."""
        fam = self.families.get(key)
        if fam is None:
            r = self.rng
            if inbox_inf:
                inf, provider = inbox_inf, "Microsoft"
                version = (6, 1, 7601, r.choice([17514, 18247, 21861, 23403]))
                date = (2006, 6, 21)
            else:
                inf = f"oem{self.oem_next}.inf"
                self.oem_next += 1
                version = (r.randint(1, 12), r.randint(0, 20), r.randint(0, 9999), r.randint(0, 9999))
                date = self.date()
            words = [w for w in slug(title).split("-") if w not in ("r", "inc")]
            stem = (words[0][:3] + "".join(w[0] for w in words[1:]))[:7] + str(len(self.families) % 10)
            fam = {"key": key, "inf": inf, "provider": provider, "version": version,
                   "date": date, "title": title, "slug": slug(title), "inf_stem": stem,
                   "inbox": bool(inbox_inf)}
            self.families[key] = fam
        return fam

    # --- devices -------------------------------------------------------------
    def pci(self):
        r = self.rng
        kind = weighted(r, PCI_KINDS, 4)
        code, cls, name, inbox, _ = kind
        ven = r.choice(list(PCI_VENDORS))
        provider, prefix = PCI_VENDORS[ven]
        ids = {}

        def make():
            ids["dev"], ids["sub"] = self.hexid(4), self.hexid(8)
            ids["rev"] = f"{r.randint(0, 0x20):02X}"
            return f"PCI\\VEN_{ven}&DEV_{ids['dev']}&SUBSYS_{ids['sub']}&REV_{ids['rev']}"
        base = self.unique(make)
        dev, sub, rev = ids["dev"], ids["sub"], ids["rev"]
        hw = [base, f"PCI\\VEN_{ven}&DEV_{dev}&SUBSYS_{sub}",
              f"PCI\\VEN_{ven}&DEV_{dev}&CC_{code}", f"PCI\\VEN_{ven}&DEV_{dev}&CC_{code[:4]}"]
        compat = [f"PCI\\VEN_{ven}&DEV_{dev}&REV_{rev}", f"PCI\\VEN_{ven}&DEV_{dev}",
                  f"PCI\\VEN_{ven}&CC_{code}", f"PCI\\VEN_{ven}&CC_{code[:4]}", f"PCI\\VEN_{ven}",
                  f"PCI\\CC_{code}", f"PCI\\CC_{code[:4]}"]
        desc = f"{prefix} {name} - {dev}"
        fam = self.family(("PCI", ven, code, r.randint(0, 2)), provider, inbox, f"{prefix} {name}")
        return dict(instance=f"{base}\\{self.instance_suffix()}", desc=desc, enumerator="PCI",
                    cls=cls, hw=hw, compat=compat, family=fam,
                    match=r.choice([hw[1], hw[0], compat[1]]))

    def hdaudio(self):
        r = self.rng
        ven, name, provider = r.choice(HDA_CODECS)
        ids = {}

        def make():
            ids["dev"], ids["sub"] = self.hexid(4), self.hexid(8)
            return f"HDAUDIO\\FUNC_01&VEN_{ven}&DEV_{ids['dev']}&SUBSYS_{ids['sub']}&REV_1002"
        base = self.unique(make)
        dev, sub = ids["dev"], ids["sub"]
        hw = [base, f"HDAUDIO\\FUNC_01&VEN_{ven}&DEV_{dev}&SUBSYS_{sub}"]
        compat = [f"HDAUDIO\\FUNC_01&VEN_{ven}&DEV_{dev}&REV_1002",
                  f"HDAUDIO\\FUNC_01&VEN_{ven}&DEV_{dev}", f"HDAUDIO\\FUNC_01&VEN_{ven}",
                  "HDAUDIO\\FUNC_01"]
        fam = self.family(("HDA", ven, r.randint(0, 1)), provider, None, name)
        return dict(instance=f"{base}\\{self.instance_suffix()}", desc=name, enumerator="HDAUDIO",
                    cls="MEDIA", hw=hw, compat=compat, family=fam, match=hw[1])

    def usb(self):
        r = self.rng
        vid, vendor = r.choice(USB_VENDORS)
        icls, isub, iprot, cls, name, inbox, _ = weighted(r, USB_KINDS, 6)
        ids = {}

        def make():
            ids["pid"], ids["rev"] = self.hexid(4), f"{r.randint(1, 0x30):02X}{r.randint(0, 99):02d}"
            return f"USB\\VID_{vid}&PID_{ids['pid']}&REV_{ids['rev']}"
        base = self.unique(make)
        pid = ids["pid"]
        hw = [base, f"USB\\VID_{vid}&PID_{pid}"]
        compat = [f"USB\\Class_{icls}&SubClass_{isub}&Prot_{iprot}",
                  f"USB\\Class_{icls}&SubClass_{isub}", f"USB\\Class_{icls}"]
        if icls == "00":
            compat = ["USB\\DevClass_00&SubClass_00&Prot_00", "USB\\DevClass_00&SubClass_00",
                      "USB\\DevClass_00", "USB\\COMPOSITE"]
        serial = r.choice([f"5&{r.getrandbits(28):x}&0&{r.randint(1, 8)}",
                           "".join(r.choice("0123456789ABCDEF") for _ in range(12))])
        fam = self.family(("USB", vid, icls, r.randint(0, 1)), vendor, inbox, f"{vendor} {name}")
        return dict(instance=f"USB\\VID_{vid}&PID_{pid}\\{serial}", desc=f"{vendor} {name}",
                    enumerator="USB", cls=cls, hw=hw, compat=compat, family=fam, match=hw[1].lower())

    def hid(self):
        r = self.rng
        vid, vendor = r.choice(USB_VENDORS)
        page, usage, cls, name, generic = r.choice(HID_KINDS)
        ids = {}

        def make():
            ids["pid"], ids["mi"] = self.hexid(4), r.randint(0, 2)
            return f"HID\\VID_{vid}&PID_{ids['pid']}&MI_{ids['mi']:02d}&Col01"
        self.unique(make)
        pid, mi = ids["pid"], ids["mi"]
        rev = f"{r.randint(1, 0x30):02X}{r.randint(0, 99):02d}"
        hw = [f"HID\\VID_{vid}&PID_{pid}&REV_{rev}&MI_{mi:02d}&Col01",
              f"HID\\VID_{vid}&PID_{pid}&MI_{mi:02d}&Col01", f"HID\\VID_{vid}&UP:{page}_U:{usage}",
              f"HID_DEVICE_UP:{page}_U:{usage}", "HID_DEVICE"]
        compat = [generic, f"HID_DEVICE_UP:{page}_U:{usage}", "HID_DEVICE"]
        inbox = {"Keyboard": "keyboard.inf", "Mouse": "msmouse.inf"}.get(cls, "input.inf")
        fam = self.family(("HID", vid, cls), vendor, inbox if r.random() < 0.8 else None,
                          f"{vendor} {name}")
        return dict(instance=f"HID\\VID_{vid}&PID_{pid}&MI_{mi:02d}&Col01\\{self.instance_suffix()}",
                    desc=name, enumerator="HID", cls=cls, hw=hw, compat=compat, family=fam,
                    match=compat[0].lower())

    def monitor(self):
        r = self.rng
        code, vendor = r.choice(MONITOR_VENDORS)
        model = self.unique(lambda: f"{code}{self.hexid(4)}")
        fam = self.family(("MON", code), vendor, "monitor.inf" if r.random() < 0.7 else None,
                          f"{vendor} monitor")
        return dict(instance=f"DISPLAY\\{model}\\{self.instance_suffix()}",
                    desc="Generic PnP Monitor", friendly=f"{vendor} {model[3:]} monitor",
                    enumerator="DISPLAY", cls="Monitor", hw=[f"MONITOR\\{model}"],
                    compat=["*PNP09FF"], family=fam, match="monitor\\" + model.lower())

    def bluetooth(self):
        r = self.rng
        service = r.choice([("0000111e", "Bluetooth Hands-free Audio"),
                            ("00001124", "Bluetooth HID Device"),
                            ("00001105", "Bluetooth OBEX Object Push"),
                            ("00001101", "Standard Serial over Bluetooth link")])
        vid = r.choice(["0A5C", "0489", "8087"])
        base = self.unique(lambda: f"BTHENUM\\{{{service[0]}-0000-1000-8000-00805f9b34fb}}_VID&0001{vid}_PID&{self.hexid(4)}")
        cls = "Ports" if service[0] == "00001101" else "System"
        fam = self.family(("BTH", service[0]), "Microsoft", "bth.inf", service[1])
        return dict(instance=f"{base}\\{self.instance_suffix()}", desc=service[1],
                    enumerator="BTHENUM", cls=cls, hw=[base],
                    compat=[f"BTHENUM\\{{{service[0]}-0000-1000-8000-00805f9b34fb}}"],
                    family=fam, match=base.lower())

    def acpi(self):
        r = self.rng
        pnp, cls, name = r.choice([
            ("PNP0C0A", "Battery", "Microsoft ACPI-Compliant Control Method Battery"),
            ("PNP0303", "Keyboard", "Standard PS/2 Keyboard"),
            ("PNP0F13", "Mouse", "PS/2 Compatible Mouse"),
            ("PNP0C0C", "System", "ACPI Power Button"),
            ("PNP0C0E", "System", "ACPI Sleep Button"),
            ("ATK0110", "System", "ATK0110 ACPI UTILITY"),
            ("INT33A0", "System", "Intel(R) Smart Connect Technology Device"),
            ("GenuineIntel_-_Intel64_Family_6_Model_58", "Processor",
             "Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz")])
        n = r.randint(0, 99999)
        hw = [f"ACPI\\{pnp}", f"*{pnp}"]
        compat = [] if cls == "Processor" else [f"*{pnp}"]
        if cls == "Processor":
            hw, compat = [f"ACPI\\{pnp}", "*GenuineIntel_-_Intel64_Family_6_Model_58"], ["ACPI\\GenuineIntel", "*GenuineIntel"]
        inbox = {"Battery": "battery.inf", "Keyboard": "keyboard.inf", "Mouse": "msmouse.inf",
                 "Processor": "cpu.inf"}.get(cls, "machine.inf")
        fam = self.family(("ACPI", pnp), "Microsoft", inbox if pnp[0] in "PG" else None, name)
        return dict(instance=f"ACPI\\{pnp}\\{n}", desc=name, enumerator="ACPI", cls=cls,
                    hw=hw, compat=compat, family=fam, match=hw[1].lower())

    def disk(self):
        r = self.rng
        model = r.choice(DISKS)
        tag = model.replace(" ", "_")
        base = self.unique(lambda: f"IDE\\Disk{tag}{'_' * (40 - len(tag))}{self.hexid(8)}")
        fam = self.family(("DISK",), "Microsoft", "disk.inf", "Disk drive")
        return dict(instance=f"{base}\\{self.instance_suffix()}", desc=f"{model} ATA Device",
                    enumerator="IDE", cls="DiskDrive", hw=[base, f"IDE\\{tag}", "GenDisk"],
                    compat=["GenDisk"], family=fam, match="gendisk")

    def root(self):
        r = self.rng
        name, cls, desc = r.choice([("LEGACY_BEEP", "LegacyDriver", "Beep"),
                                    ("LEGACY_NDIS", "LegacyDriver", "NDIS System Driver"),
                                    ("SYSTEM", "System", "Plug and Play Software Device Enumerator"),
                                    ("*ISATAP", "Net", "Microsoft ISATAP Adapter"),
                                    ("MS_VWIFIMP", "Net", "Microsoft Virtual WiFi Miniport Adapter"),
                                    ("VOLMGR", "System", "Volume Manager")])
        fam = self.family(("ROOT", name), "Microsoft", "machine.inf", desc)
        n = self.unique(lambda: f"ROOT\\{name}\\{r.randint(0, 9999):04d}")
        return dict(instance=n, desc=desc, enumerator="ROOT", cls=cls,
                    hw=[f"ROOT\\{name}"], compat=[f"ROOT\\{name}"], family=fam,
                    match=f"root\\{name}".lower())

    def volume(self):
        r = self.rng
        n = self.unique(lambda: f"STORAGE\\VOLUME\\{{{self.hexid(8)}-{self.hexid(4)}-11E0-A1F0-806E6F6E6963}}#{r.getrandbits(40):016X}")
        fam = self.family(("VOL",), "Microsoft", "volume.inf", "Generic volume")
        return dict(instance=n.rsplit("#", 1)[0] + "\\" + n.rsplit("#", 1)[1],
                    desc="Generic volume", enumerator="STORAGE", cls="Volume",
                    hw=["STORAGE\\Volume"], compat=["STORAGE\\Volume"], family=fam,
                    match="storage\\volume")

    def unknown(self):
        r = self.rng
        d = self.pci() if r.random() < 0.6 else self.usb()
        d.update(cls="", family=None, desc=d["desc"].split(" - ")[0].replace("Adapter", "Controller"))
        return d


KINDS = [("pci", 30), ("usb", 22), ("hid", 16), ("hdaudio", 6), ("monitor", 5), ("bluetooth", 5),
         ("acpi", 7), ("disk", 3), ("volume", 2), ("root", 3), ("unknown", 1)]


def weighted(rng, table, weight_at):
    total = sum(t[weight_at] for t in table)
    pick = rng.uniform(0, total)
    for t in table:
        pick -= t[weight_at]
        if pick <= 0:
            return t
    return table[-1]


def slug(text):
    out = "".join(c.lower() if c.isalnum() else "-" for c in text)
    return "-".join(p for p in out.split("-") if p)


def vtext(v):
    return ".".join(str(x) for x in v)


def make_devices(gen, count):
    rng = gen.rng
    devices = []
    while len(devices) < count:
        if devices and rng.random() < 0.03:
            # Another instance of a device already listed (a second identical
            # controller, a docking-station twin): the scan folds them.
            twin = dict(rng.choice(devices))
            twin["instance"] = twin["instance"].rsplit("\\", 1)[0] + "\\" + gen.instance_suffix()
            twin["twin"] = True
            devices.append(twin)
            continue
        kind = weighted(rng, KINDS, 1)[0]
        d = getattr(gen, kind)()
        d["present"] = rng.random() >= 0.02
        fam = d["family"]
        if fam is None:
            d["driver"] = None
        elif rng.random() < 0.01:
            d["driver"] = "partial"  # a driver key without DriverDate: no driver counted
        else:
            # Some devices run an older release of their family's driver.
            version, date = fam["version"], fam["date"]
            if not fam["inbox"] and rng.random() < 0.3:
                version = version[:2] + (max(0, version[2] - rng.randint(1, 50)),) + version[3:]
                date = (date[0] - 1, date[1], date[2])
            rank = rng.choice([0x00FF0001, 0x00FF0000, 0x00FF2001, 0x00000001, 0x00002001, 0x0D008001]) \
                if not fam["inbox"] else 0x00FF0000 | rng.choice([0, 1, 0x2001])
            d["driver"] = dict(version=version, date=date, rank=rank)
        devices.append(d)
    return devices


def kept(devices):
    """The devices a scan keeps (present ones only, twins folded), in order,
    as the client's enumeration does."""
    known = {name for name, _, _, _ in CLASSES}
    out, seen = [], set()
    for d in devices:
        if not d["present"] or not d["hw"] or not d["compat"]:
            continue
        device_id = d["instance"].rsplit("\\", 1)[0]
        if device_id in seen:
            continue
        cls = d["cls"]
        has_driver = bool(d["driver"]) and d["driver"] != "partial"
        if cls and cls == "LegacyDriver":
            continue
        if (cls or "Unknown") not in known:
            continue
        if has_driver:
            enum = d["enumerator"].upper()
            if enum in ("ISAPNP", "ROOT") or cls.lower() == "diskdrive":
                continue
            if enum == "ACPI" and cls.lower() in ("system", "processor"):
                continue
        seen.add(device_id)
        out.append(dict(d, device_id=device_id, has_driver=has_driver))
    return out


# --- the profile ---------------------------------------------------------------
def esc(text):
    return escape(text, {'"': "&quot;"})


def profile_xml(devices, store):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             f"<!-- A generated machine profile of {len(devices)} device instances"
             " (bench/make_profile.py). -->",
             "<machine>",
             '  <windows major="6" minor="1" build="7601" platform="2" product_type="1"'
             ' service_pack="Service Pack 1" server_r2="0" arch="9"/>',
             '  <system cpu="Intel(R) Xeon(R) CPU E5-2690 v2 @ 3.00GHz"'
             ' os="Microsoft Windows 7 Professional  Build 7601 Service Pack 1"'
             ' memory="17179869184" storage="ST500LM012 HN-M500MBB ATA Device"'
             ' display="Intel(R) HD Graphics 4000" sound="Realtek High Definition Audio"'
             ' model="Bench Workstation"/>']
    for name, guid, desc, image in CLASSES:
        lines.append(f'  <class guid="{guid}" name="{name}" description="{esc(desc)}" image="{image}"/>')
    for d in devices:
        attrs = f' id="{esc(d["instance"])}"'
        if not d["present"]:
            attrs += ' present="0"'
        if d.get("friendly"):
            attrs += f' friendly="{esc(d["friendly"])}"'
        attrs += f' desc="{esc(d["desc"])}" enumerator="{d["enumerator"]}"'
        if d["cls"]:
            attrs += f' class="{d["cls"]}" class_guid="{GUID[d["cls"]]}"'
        lines.append(f"  <device{attrs}>")
        lines += [f"    <hardware_id>{esc(h)}</hardware_id>" for h in d["hw"]]
        lines += [f"    <compatible_id>{esc(c)}</compatible_id>" for c in d["compat"]]
        drv, fam = d["driver"], d["family"]
        if drv:
            rank = drv["rank"] if drv != "partial" else 0x00FF0000
            version = vtext(drv["version"] if drv != "partial" else fam["version"])
            y, m, day = drv["date"] if drv != "partial" else fam["date"]
            lines.append(f'    <driver rank="0x{rank:08X}">')
            lines.append(f'      <value name="DriverVersion">{version}</value>')
            lines.append(f'      <value name="InfPath">{fam["inf"]}</value>')
            if drv != "partial":
                lines.append(f'      <value name="DriverDate">{m}-{day}-{y}</value>')
            lines.append(f'      <value name="DriverDesc">{esc(d["desc"])}</value>')
            lines.append(f'      <value name="MatchingDeviceId">{esc(d["match"])}</value>')
            lines.append(f'      <value name="ProviderName">{esc(fam["provider"])}</value>')
            lines.append("    </driver>")
        lines.append("  </device>")
    if store:
        lines += store
    lines.append("</machine>")
    return "\n".join(lines) + "\n"


def store_xml(gen, devices, packages, name):
    infs = []
    for d in devices:
        fam = d["family"]
        if fam and not fam["inbox"] and fam["inf"] not in infs:
            infs.append(fam["inf"])
    while len(infs) < packages:  # more packages than INF files in use: unused store copies
        infs.append(f"oem{gen.oem_next}.inf")
        gen.oem_next += 1
    by_inf = {f["inf"]: f for f in gen.families.values()}
    rng = gen.rng
    lines = [f'  <driver_store root="%QUILLMARK_DRIVER_STORE%\\{name}\\FileRepository"',
             f'                inf_folder="%QUILLMARK_DRIVER_STORE%\\{name}\\inf">']
    total = 0
    for inf in infs[:packages]:
        fam = by_inf.get(inf)
        stem = fam["inf_stem"] if fam else inf[:-4]
        lines.append(f'    <package folder="{stem}.inf_amd64_neutral_{rng.getrandbits(64):016x}" inf="{inf}">')
        for ext in rng.sample([".sys", ".dll", ".cat", "64.dll", "co.dll", ".bin"], rng.randint(1, 4)):
            size = rng.choice([4096, 8192, 16384, 36864, 65536, 98304, 131072, 262144])
            total += size
            lines.append(f'      <file name="{stem}{ext}" size="{size}"/>')
        lines.append("    </package>")
    lines.append("  </driver_store>")
    return lines, total


# --- the answer ------------------------------------------------------------------
def version_newer(a, b):
    def quad(t):
        out = []
        for part in t.split("."):
            if len(out) == 4 or not part.isdigit():
                break
            out.append(int(part))
        return out + [0] * (4 - len(out))
    return quad(a) > quad(b)


def installed_levels(rank):
    s = 3 if rank >= 0x80000000 else 1 if rank >= 0x0F000000 else 0
    return s, (rank >> 16) & 0xFF


def offer_better(a, b):
    da, db = abs(OS_VERSION - a["targetos"]), abs(OS_VERSION - b["targetos"])
    if a["targetos"] != b["targetos"]:
        return da < db
    for key in ("sign", "feature_value", "cp"):
        if a[key] != b[key]:
            return a[key] < b[key]
    if a["date"] != b["date"]:
        return a["date"] > b["date"]
    return version_newer(a["version"], b["version"])


def is_update(device, offers):
    """Whether the client marks the device as having an update (best or latest)."""
    if not offers:
        return False
    if not device["has_driver"]:
        return True
    best = latest = offers[0]
    for o in offers[1:]:
        if offer_better(o, best):
            best = o
        if o["date"] > latest["date"]:
            latest = o
    drv = device["driver"]
    s, f = installed_levels(drv["rank"])
    date = "%d-%02d-%02d" % drv["date"]
    version = vtext(drv["version"])
    if best["sign"] != s:
        best_update = best["sign"] < s
    elif best["feature_value"] != f:
        best_update = best["feature_value"] < f
    elif best["hardid"].upper() != device["match"].upper():
        best_update = True
    elif best["date"] != date:
        best_update = best["date"] > date
    else:
        best_update = version_newer(best["version"], version)
    if latest["date"] != date:
        latest_update = latest["date"] > date
    else:
        latest_update = version_newer(latest["version"], version)
    return best_update or latest_update


def make_offers(rng, device, update, count):
    """count offers for a device; one of them is newer than the installed
    driver when update is set, none otherwise."""
    drv, fam = device["driver"], device["family"]
    ids = device["hw"] + device["compat"]
    match = next((i for i in ids if i.upper() == device["match"].upper()), ids[0])
    if drv and drv != "partial":
        s, f = installed_levels(drv["rank"])
        base_v, base_d = drv["version"], drv["date"]
    else:
        s, f = 0, 0xFF
        base_v = fam["version"] if fam else (1, 0, 0, 0)
        base_d = fam["date"] if fam else (2010, 1, 1)
    provider = fam["provider"] if fam else "Generic"
    title = fam["title"] if fam else device["desc"]
    stem = fam["slug"] if fam else slug(device["desc"])
    inf = f'{stem}/Win7x64/{fam["inf_stem"] if fam else "oemdrv"}.inf'
    site = slug(provider).split("-")[0]
    offers = []
    for k in range(count):
        newer = update and k == count // 2
        y, m, d = base_d
        if newer:
            y, m, d = y + rng.randint(0, 2) + 1, rng.randint(1, 12), rng.randint(1, 28)
            v = (base_v[0] + rng.randint(0, 1), base_v[1], base_v[2] + rng.randint(1, 400), rng.randint(0, 9999))
        else:
            y -= rng.randint(1, 4)
            v = (max(0, base_v[0] - rng.randint(0, 1)), base_v[1], max(0, base_v[2] - rng.randint(1, 400)), rng.randint(0, 9999))
        own = newer or rng.random() < 0.5
        sign, feature = s, f
        if own:
            hardid = match
        else:
            # Another id of the device, worse signed than the installed
            # driver (or, when that is unsigned, with a worse feature score).
            hardid = rng.choice(ids)
            if s < 3:
                sign = rng.choice([n for n in (1, 3) if n > s])
            else:
                feature = min(0xFF, f + 1 + rng.randint(0, 0x40))
        version = vtext(v)
        date = "%d-%02d-%02d" % (y, m, d)
        pkg = f"{stem}-{version}.zip"
        offers.append(dict(
            hardid=hardid, title=f"{title} {version}", version=version,
            guid=GUID.get(device["cls"] or "Unknown"), file=pkg, inf=inf,
            manufacturer=provider, date=date, description=rng.choice(NOTES),
            size=rng.randint(200_000, 300_000_000), cp=rng.choice([0, 0x1000, 0x2000, 0x3001]),
            sign=sign, feature_value=feature, feature=f"{feature:x}",
            targetos=rng.choice([61, 61, 61, 60, 62]),
            official_link=f"http://www.{site}.com/drivers"))
    return offers


NOTES = ["Fixes resume from sleep.", "Improves stability.", "Adds support for new models.",
         "Fixes a hang when docked.", "Lower power use on battery.", "Security fixes.",
         "Better throughput.", "Fixes hibernation with external displays.", ""]


def answer_xml(kept_devices, offers_by_id, base, package_size):
    parts = []
    for d in kept_devices:
        offers = offers_by_id.get(d["device_id"])
        if not offers:
            continue
        items = []
        for o in offers:
            pkg = scan.Package(file=o["file"], title=o["title"], version=o["version"], date=o["date"],
                               manufacturer=o["manufacturer"], description=o["description"],
                               inf=o["inf"], sign=o["sign"], feature=o["feature"],
                               targetos=o["targetos"], guid=o["guid"],
                               official_link=o["official_link"])
            size = package_size if package_size is not None else o["size"]
            items.append(scan.item_xml(pkg, o["hardid"], o["cp"], size, base + o["file"],
                                       o["official_link"]))
        parts.append("<hardware>" + scan._field("id", d["device_id"]) + "".join(items) + "</hardware>")
    if not parts:
        parts.append("<hardware><id></id></hardware>")
    text = (f'<?xml version="1.0" encoding="{scan.ANSWER_ENCODING}"?>\n'
            "<tarnwick><hardwares>" + "".join(parts) + "</hardwares></tarnwick>\n")
    return text.encode(scan.ANSWER_ENCODING, errors="replace")


def make_answer(rng, kept_devices, updates, target, base, package_size):
    candidates = list(range(len(kept_devices)))
    if updates > len(candidates):
        raise SystemExit(f"--updates {updates}: the scan keeps only {len(candidates)} devices")
    chosen = set(rng.sample(candidates, updates))
    # The service knows most devices with a driver; a device without a
    # driver is answered only when it is one of the updates.
    answered = [i for i in candidates
                if i in chosen or (kept_devices[i]["has_driver"] and rng.random() < 0.9)]
    # Offers per device so that the answer comes to about `target` bytes:
    # one pass with a first guess, then scaled by what one offer weighs.
    per_device = 4
    for _ in range(3):
        offers_by_id = {}
        state = random.Random(rng.random())
        for i in answered:
            d = kept_devices[i]
            n = max(1, min(500, round(state.gauss(per_device, per_device / 3))))
            if i in chosen:
                n = max(n, 2)
            offers_by_id[d["device_id"]] = make_offers(state, d, i in chosen, n)
        data = answer_xml(kept_devices, offers_by_id, base, package_size)
        offers = sum(len(v) for v in offers_by_id.values())
        per_offer = len(data) / max(1, offers)
        wanted = max(1.0, (target - len(answered) * 60) / per_offer / max(1, len(answered)))
        if abs(len(data) - target) < target * 0.02 or abs(wanted - per_device) < 0.05:
            break
        per_device = wanted
    while len(data) >= ANSWER_BUFFER:  # never past the client's buffer
        longest = max(offers_by_id, key=lambda k: len(offers_by_id[k]))
        offers_by_id[longest].pop(0 if len(offers_by_id[longest]) > 2 else -1)
        data = answer_xml(kept_devices, offers_by_id, base, package_size)
    got = sum(1 for d in kept_devices if is_update(d, offers_by_id.get(d["device_id"], [])))
    if got != updates:
        raise SystemExit(f"internal error: the answer gives {got} updates, not {updates}")
    return data, len(offers_by_id), sum(len(v) for v in offers_by_id.values())


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--devices", type=int, required=True, help="device instances in the profile")
    ap.add_argument("--profile", required=True, help="the profile to write")
    ap.add_argument("--answer", required=True, help="the service's answer to write")
    ap.add_argument("--download-base", default="http://127.0.0.1:9/packages/",
                    help="what offer links begin with (the package file name follows)")
    ap.add_argument("--updates", type=int, help="devices with an update (default 5 %% of --devices)")
    ap.add_argument("--store-packages", type=int, default=0, help="packages in a <driver_store>")
    ap.add_argument("--answer-bytes", type=int, help="about how large the answer is "
                    "(default 1000 per device, at most 5,100,000)")
    ap.add_argument("--package-size", type=int, help="every offer's size in bytes")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    if args.devices < 1:
        ap.error("--devices must be at least 1")
    target = args.answer_bytes or args.devices * 1000
    if target > ANSWER_CEILING:
        if args.answer_bytes:
            ap.error(f"--answer-bytes: at most {ANSWER_CEILING} (the client's buffer is {ANSWER_BUFFER})")
        target = ANSWER_CEILING
    updates = args.updates if args.updates is not None else round(args.devices * 0.05)

    gen = Gen(args.seed)
    devices = make_devices(gen, args.devices)
    kept_devices = kept(devices)
    name = os.path.splitext(os.path.basename(args.profile))[0]
    store, store_bytes = store_xml(gen, devices, args.store_packages, name) \
        if args.store_packages else (None, 0)
    profile = profile_xml(devices, store).encode("utf-8")
    answer, answered, offers = make_answer(gen.rng, kept_devices, updates, target,
                                           args.download_base, args.package_size)
    for path, data in ((args.profile, profile), (args.answer, answer)):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    print(f"profile {args.profile}: {len(profile):,} bytes, {len(devices)} device instances, "
          f"{len(kept_devices)} kept by a scan ({sum(not d['has_driver'] for d in kept_devices)} "
          f"without a driver), {len(CLASSES)} classes")
    print(f"answer {args.answer}: {len(answer):,} bytes, {answered} devices answered, "
          f"{offers} offers, {updates} devices with an update")
    if store:
        print(f"driver store: {args.store_packages} packages, {store_bytes:,} bytes of files")
    return 0


if __name__ == "__main__":
    sys.exit(main())

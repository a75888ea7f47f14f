#!/usr/bin/env python3
"""A simulated iPhone behind a fake usbmuxd, for tests and demonstrations.

Usage:
  simphone.py --socket PATH --profile PROFILE.json [--control PATH]
  simphone.py --make-profile BACKUP_DIR --out PROFILE.json [--afc-root DIR]
              [--password PWD]

The program listens on the Unix socket PATH and speaks the usbmuxd plist
protocol there; point libimobiledevice at it with
  USBMUXD_SOCKET_ADDRESS=UNIX:PATH
When it listens it prints one line "simphone ready <PATH>" on stdout.
SIGTERM or SIGINT stops it cleanly.

Profile (JSON): {"devices": [DEVICE, ...]} or a single DEVICE object.
DEVICE keys:
  UDID (required), DeviceName, DeviceClass, ProductType, ProductVersion,
  BuildVersion, SerialNumber, WillEncrypt (bool),
  BackupPassword  (text: the backup password; a ChangePassword request that
                   carries both OldPassword and NewPassword is answered
                   ErrorCode 0 when OldPassword equals it, else ErrorCode 207
                   "The password is not right"; nothing is changed either way)
  attached        (bool, default true: present at start)
  refusesPairing  (false, true, "PasswordProtected", "UserDeniedPairing" or
                   "PairingDialogResponsePending":
                   no pair record is served and lockdownd answers pairing
                   and session requests with that error)
  hasAfc2         (bool: com.apple.afc2 present, else InvalidService)
  afcRoot         (folder served by com.apple.afc, e.g. holding DCIM/...)
  apps            ([{"bundleId", "displayName", "container", "applicationType"
                   (default "User"), "version"}]; container is a folder on disk
                   served by house_arrest; VendDocuments serves its Documents)
  browsePageSize  (apps per installation_proxy Browse page, default 2)
  browseEmpty     (bool: Browse answers a page with CurrentAmount 0)
  backup          (a backup folder; mobilebackup2 uploads its files as they
                   lie, except Info.plist which the host writes)
Relative paths are taken from the profile file's folder.

Control socket (default PATH + ".ctl"; from a shell:
  simphone.py --send PATH.ctl "detach UDID"), one command per line, answered
"ok" or "error <words>":
  attach UDID | detach UDID   (Detached event; open connections closed)
  fail-backup UDID            (next backup drops its connection mid-way)
  stall-backup UDID           (next backup stops sending mid-way until the
                               phone is detached or the program stops)
  list                        (one line "UDID attached|detached" per phone)
"""

import argparse
import hashlib
import json
import os
import plistlib
import signal
import socket
import struct
import sys
import threading
import io

LOCKDOWN_PORT = 62078
STOP = threading.Event()
WAIT = 60.0  # bound for every receive


class ProfileError(Exception):
    pass


def recv_exact(sock, n):
    buf = bytearray()
    while len(buf) < n:
        chunk = sock.recv(n - len(buf))
        if not chunk:
            raise ConnectionError("peer closed")
        buf += chunk
    return bytes(buf)


class Device:
    def __init__(self, entry, base, device_id):
        if not isinstance(entry, dict):
            raise ProfileError("each device must be a JSON object")
        if not isinstance(entry.get("UDID"), str) or not entry["UDID"]:
            raise ProfileError("a device has no UDID text")
        self.udid = entry["UDID"]
        self.device_id = device_id
        self.values = {
            "DeviceName": entry.get("DeviceName", "Simulated iPhone"),
            "DeviceClass": entry.get("DeviceClass", "iPhone"),
            "ProductType": entry.get("ProductType", "iPhone12,1"),
            "ProductVersion": entry.get("ProductVersion", "14.8"),
            "BuildVersion": entry.get("BuildVersion", "18H17"),
            "SerialNumber": entry.get("SerialNumber", "F00SIMULATED"),
            "UniqueDeviceID": self.udid,
            "PhoneNumber": entry.get("PhoneNumber", "+49 170 0000000"),
        }
        self.will_encrypt = bool(entry.get("WillEncrypt", False))
        self.backup_password = entry.get("BackupPassword")
        if self.backup_password is not None and not isinstance(self.backup_password, str):
            raise ProfileError("BackupPassword of %s must be text" % self.udid)
        refuse = entry.get("refusesPairing", False)
        if refuse is True:
            refuse = "PasswordProtected"
        if refuse not in (False, None, "PasswordProtected", "UserDeniedPairing",
                          "PairingDialogResponsePending"):
            raise ProfileError("refusesPairing of %s must be true, false, \"PasswordProtected\", "
                               "\"UserDeniedPairing\" or \"PairingDialogResponsePending\"" % self.udid)
        self.refuse = refuse or None
        self.has_afc2 = bool(entry.get("hasAfc2", False))

        def folder(key, value):
            if value is None:
                return None
            path = os.path.join(base, value)
            if not os.path.isdir(path):
                raise ProfileError("%s of %s is not a folder: %s" % (key, self.udid, path))
            return os.path.realpath(path)

        self.afc_root = folder("afcRoot", entry.get("afcRoot"))
        self.backup = folder("backup", entry.get("backup"))
        self.apps = []
        for app in entry.get("apps", []):
            if not isinstance(app, dict) or "bundleId" not in app:
                raise ProfileError("an app of %s has no bundleId" % self.udid)
            self.apps.append({
                "CFBundleIdentifier": app["bundleId"],
                "CFBundleDisplayName": app.get("displayName", app["bundleId"]),
                "CFBundleName": app.get("displayName", app["bundleId"]),
                "CFBundleShortVersionString": app.get("version", "1.0"),
                "ApplicationType": app.get("applicationType", "User"),
                "_container": folder("container", app.get("container")),
            })
        self.page_size = max(1, int(entry.get("browsePageSize", 2)))
        self.browse_empty = bool(entry.get("browseEmpty", False))
        self.attached = bool(entry.get("attached", True))
        self.next_backup = None  # None, "fail" or "stall"
        self.services = {}
        self.next_port = 49152
        self.lock = threading.Lock()
        self.conns = set()
        self.detached = threading.Event()

    def properties(self):
        return {"ConnectionType": "USB", "DeviceID": self.device_id,
                "SerialNumber": self.udid, "ProductID": 0x12A8,
                "LocationID": 0x14100000 + self.device_id, "ConnectionSpeed": 480000000}

    def pair_record(self):
        return plistlib.dumps({"HostID": "7E5A5E0C-0000-4000-8000-00000000C0DE",
                               "SystemBUID": "00000000-0000-4000-8000-0000000051A5",
                               "EscrowBag": b"simulated-escrow-bag",
                               "HostCertificate": b"", "RootCertificate": b"",
                               "DeviceCertificate": b"", "WiFiMACAddress": "00:00:00:00:00:00"})

    def start_service(self, name):
        with self.lock:
            port = self.next_port
            self.next_port += 1
            self.services[port] = name
        return port


class Server:
    def __init__(self, devices):
        self.devices = devices
        self.listeners = []
        self.lock = threading.Lock()

    def by_udid(self, udid):
        for d in self.devices:
            if d.udid == udid:
                return d
        return None

    def event(self, msg):
        data = plistlib.dumps(msg)
        packet = struct.pack("<IIII", 16 + len(data), 1, 8, 0) + data
        with self.lock:
            for s in list(self.listeners):
                try:
                    s.sendall(packet)
                except OSError:
                    self.listeners.remove(s)

    def attach(self, dev):
        if dev.attached:
            return
        dev.detached.clear()
        dev.attached = True
        self.event({"MessageType": "Attached", "DeviceID": dev.device_id,
                    "Properties": dev.properties()})

    def detach(self, dev):
        if not dev.attached:
            return
        dev.attached = False
        dev.detached.set()
        self.event({"MessageType": "Detached", "DeviceID": dev.device_id})
        with dev.lock:
            conns = list(dev.conns)
        for c in conns:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    # usbmux front end -------------------------------------------------------
    def serve_mux(self, sock):
        sock.settimeout(WAIT)
        try:
            while not STOP.is_set():
                length, version, message, tag = struct.unpack("<IIII", recv_exact(sock, 16))
                payload = recv_exact(sock, length - 16)
                req = plistlib.loads(payload)
                kind = req.get("MessageType")

                def reply(obj):
                    data = plistlib.dumps(obj)
                    sock.sendall(struct.pack("<IIII", 16 + len(data), 1, 8, tag) + data)

                def result(n):
                    reply({"MessageType": "Result", "Number": n})

                if kind == "ListDevices":
                    reply({"DeviceList": [{"MessageType": "Attached", "DeviceID": d.device_id,
                                           "Properties": d.properties()}
                                          for d in self.devices if d.attached]})
                elif kind == "Listen":
                    result(0)
                    with self.lock:
                        for d in self.devices:
                            if d.attached:
                                data = plistlib.dumps({"MessageType": "Attached",
                                                       "DeviceID": d.device_id,
                                                       "Properties": d.properties()})
                                sock.sendall(struct.pack("<IIII", 16 + len(data), 1, 8, 0) + data)
                        self.listeners.append(sock)
                    sock.settimeout(None)
                    while not STOP.is_set():  # wait for the client to go away
                        if not sock.recv(4096):
                            break
                    return
                elif kind == "ReadBUID":
                    reply({"BUID": "00000000-0000-4000-8000-0000000051A5"})
                elif kind == "ReadPairRecord":
                    dev = self.by_udid(req.get("PairRecordID"))
                    if dev is None or dev.refuse:
                        result(2)
                    else:
                        reply({"PairRecordData": dev.pair_record()})
                elif kind in ("SavePairRecord", "DeletePairRecord"):
                    result(0)
                elif kind == "Connect":
                    dev = next((d for d in self.devices
                                if d.device_id == req.get("DeviceID") and d.attached), None)
                    p = int(req.get("PortNumber", 0))
                    port = ((p & 0xFF) << 8) | (p >> 8)
                    if dev is None:
                        result(2)
                        return
                    if port != LOCKDOWN_PORT and port not in dev.services:
                        result(3)
                        return
                    result(0)
                    with dev.lock:
                        dev.conns.add(sock)
                    try:
                        if port == LOCKDOWN_PORT:
                            Lockdown(self, dev, sock).run()
                        else:
                            run_service(dev.services[port], self, dev, sock)
                    finally:
                        with dev.lock:
                            dev.conns.discard(sock)
                    return
                else:
                    result(1)
        except (ConnectionError, OSError, struct.error, plistlib.InvalidFileException, ValueError):
            pass
        finally:
            with self.lock:
                if sock in self.listeners:
                    self.listeners.remove(sock)
            try:
                sock.close()
            except OSError:
                pass


# plist services ---------------------------------------------------------------
def send_plist(sock, obj, binary=False):
    data = plistlib.dumps(obj, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)
    sock.sendall(struct.pack(">I", len(data)) + data)


def recv_plist(sock):
    (n,) = struct.unpack(">I", recv_exact(sock, 4))
    return plistlib.loads(recv_exact(sock, n))


class Lockdown:
    def __init__(self, server, dev, sock):
        self.server, self.dev, self.sock = server, dev, sock

    def run(self):
        dev = self.dev
        while not STOP.is_set():
            req = recv_plist(self.sock)
            name = req.get("Request")
            out = {"Request": name}
            if name == "QueryType":
                out["Type"] = "com.apple.mobile.lockdown"
            elif name == "GetValue":
                domain, key = req.get("Domain"), req.get("Key")
                if dev.refuse and key == "DevicePublicKey":
                    out["Error"] = dev.refuse
                else:
                    found, value = self.value(domain, key)
                    if domain is not None:
                        out["Domain"] = domain
                    if key is not None:
                        out["Key"] = key
                    if found:
                        out["Value"] = value
                    else:
                        out["Error"] = "MissingValue"
            elif name in ("Pair", "ValidatePair"):
                if dev.refuse:
                    out["Error"] = dev.refuse
            elif name == "StartSession":
                if dev.refuse:
                    out["Error"] = "InvalidHostID"
                else:
                    out["SessionID"] = "5E5510N-%d" % dev.device_id
                    out["EnableSessionSSL"] = False
            elif name == "StartService":
                service = req.get("Service")
                known = {"com.apple.afc", "com.apple.mobile.installation_proxy",
                         "com.apple.mobile.house_arrest", "com.apple.mobile.notification_proxy",
                         "com.apple.mobilebackup2"}
                if dev.has_afc2:
                    known.add("com.apple.afc2")
                if dev.refuse:
                    out["Error"] = "SessionInactive"
                elif service in known:
                    out["Service"] = service
                    out["Port"] = dev.start_service(service)
                    out["EnableServiceSSL"] = False
                else:
                    out["Error"] = "InvalidService"
            elif name == "Goodbye":
                send_plist(self.sock, out)
                return
            # StopSession, SetValue and anything else: plain acknowledgement
            send_plist(self.sock, out)

    def value(self, domain, key):
        dev = self.dev
        domains = {
            None: dict(dev.values),
            "com.apple.mobile.backup": {"WillEncrypt": dev.will_encrypt},
            "com.apple.mobile.iTunes": {"MinITunesVersion": "10.0.1"},
            "com.apple.iTunes": {},
        }
        if domain not in domains:
            return False, None
        values = domains[domain]
        if key is None:
            return True, values
        if key in values:
            return True, values[key]
        return False, None


def run_service(name, server, dev, sock):
    sock.settimeout(WAIT)
    if name in ("com.apple.afc", "com.apple.afc2"):
        Afc(sock, dev.afc_root).run()
    elif name == "com.apple.mobile.installation_proxy":
        installation_proxy(sock, dev)
    elif name == "com.apple.mobile.house_arrest":
        house_arrest(sock, dev)
    elif name == "com.apple.mobile.notification_proxy":
        while not STOP.is_set():
            req = recv_plist(sock)
            if req.get("Command") == "Shutdown":
                send_plist(sock, {"Command": "ProxyDeath"})
                return
    elif name == "com.apple.mobilebackup2":
        MobileBackup2(server, dev, sock).run()


def installation_proxy(sock, dev):
    while not STOP.is_set():
        req = recv_plist(sock)
        cmd = req.get("Command")
        opts = req.get("ClientOptions") or {}
        if cmd == "Browse":
            kind = opts.get("ApplicationType", "Any")
            attrs = opts.get("ReturnAttributes")
            apps = [a for a in dev.apps if kind == "Any" or a["ApplicationType"] == kind]

            def shown(a):
                d = {k: v for k, v in a.items() if not k.startswith("_")}
                return {k: v for k, v in d.items() if k in attrs} if attrs else d

            if dev.browse_empty:
                send_plist(sock, {"Status": "BrowsingApplications", "CurrentList": [],
                                  "CurrentAmount": 0, "CurrentIndex": 0, "Total": 0})
            else:
                for i in range(0, len(apps), dev.page_size):
                    page = [shown(a) for a in apps[i:i + dev.page_size]]
                    send_plist(sock, {"Status": "BrowsingApplications", "CurrentList": page,
                                      "CurrentAmount": len(page), "CurrentIndex": i,
                                      "Total": len(apps)})
            send_plist(sock, {"Status": "Complete"})
        elif cmd == "Lookup":
            ids = opts.get("BundleIDs") or [a["CFBundleIdentifier"] for a in dev.apps]
            found = {a["CFBundleIdentifier"]: {k: v for k, v in a.items() if not k.startswith("_")}
                     for a in dev.apps if a["CFBundleIdentifier"] in ids}
            send_plist(sock, {"LookupResult": found, "Status": "Complete"})
        else:
            send_plist(sock, {"Error": "UnknownCommand", "ErrorDescription": str(cmd)})


def house_arrest(sock, dev):
    req = recv_plist(sock)
    cmd, ident = req.get("Command"), req.get("Identifier")
    app = next((a for a in dev.apps if a["CFBundleIdentifier"] == ident), None)
    if cmd not in ("VendContainer", "VendDocuments"):
        send_plist(sock, {"Error": "UnknownCommand"})
        return
    if app is None or app["_container"] is None:
        send_plist(sock, {"Error": "ApplicationLookupFailed"})
        return
    root = app["_container"]
    if cmd == "VendDocuments":
        root = os.path.join(root, "Documents")
    send_plist(sock, {"Status": "Complete"})
    Afc(sock, root).run()


# AFC ---------------------------------------------------------------------------
AFC_MAGIC = b"CFA6LPAA"
OP_STATUS, OP_DATA, OP_READ_DIR, OP_REMOVE, OP_MKDIR, OP_INFO, OP_DEVINFO = 1, 2, 3, 8, 9, 10, 11
OP_OPEN, OP_OPEN_RES, OP_READ, OP_WRITE, OP_SEEK, OP_TELL, OP_TELL_RES = 13, 14, 15, 16, 17, 18, 19
OP_CLOSE, OP_LOCK = 20, 27
E_INVALID_ARG, E_NOT_FOUND, E_NOT_SUPPORTED, E_PERM = 7, 8, 15, 10


class Afc:
    def __init__(self, sock, root):
        self.sock, self.root = sock, root
        self.handles = {}
        self.next_handle = 1

    def path(self, raw):
        rel = raw.split(b"\0", 1)[0].decode("utf-8", "replace").lstrip("/")
        if self.root is None:
            return None
        full = os.path.realpath(os.path.join(self.root, rel))
        if full != self.root and not full.startswith(self.root + os.sep):
            return None
        return full

    def send(self, num, op, header=b"", payload=b""):
        this = 40 + len(header)
        self.sock.sendall(AFC_MAGIC + struct.pack("<QQQQ", this + len(payload), this, num, op)
                          + header + payload)

    def status(self, num, code):
        self.send(num, OP_STATUS, struct.pack("<Q", code))

    def run(self):
        while not STOP.is_set():
            head = recv_exact(self.sock, 40)
            if head[:8] != AFC_MAGIC:
                return
            entire, this, num, op = struct.unpack("<QQQQ", head[8:])
            hdata = recv_exact(self.sock, this - 40)
            payload = recv_exact(self.sock, entire - this)
            self.handle(num, op, hdata, payload)

    def handle(self, num, op, h, payload):
        if op == OP_READ_DIR:
            p = self.path(h)
            if p is None or not os.path.isdir(p):
                return self.status(num, E_NOT_FOUND)
            names = [".", ".."] + sorted(os.listdir(p))
            return self.send(num, OP_DATA, payload=b"".join(n.encode() + b"\0" for n in names))
        if op == OP_INFO:
            p = self.path(h)
            if p is None or not os.path.lexists(p):
                return self.status(num, E_NOT_FOUND)
            st = os.lstat(p)
            kind = ("S_IFLNK" if os.path.islink(p) else "S_IFDIR" if os.path.isdir(p) else "S_IFREG")
            info = [("st_size", st.st_size), ("st_blocks", (st.st_size + 511) // 512),
                    ("st_nlink", st.st_nlink), ("st_ifmt", kind),
                    ("st_mtime", st.st_mtime_ns), ("st_birthtime", st.st_mtime_ns)]
            if kind == "S_IFLNK":
                info.append(("LinkTarget", os.readlink(p)))
            return self.send(num, OP_DATA, payload=b"".join(
                str(k).encode() + b"\0" + str(v).encode() + b"\0" for k, v in info))
        if op == OP_DEVINFO:
            info = [("Model", "iPhone12,1"), ("FSTotalBytes", 64 << 30),
                    ("FSFreeBytes", 20 << 30), ("FSBlockSize", 4096)]
            return self.send(num, OP_DATA, payload=b"".join(
                str(k).encode() + b"\0" + str(v).encode() + b"\0" for k, v in info))
        if op == OP_OPEN:
            if len(h) < 8:
                return self.status(num, E_INVALID_ARG)
            (mode,) = struct.unpack("<Q", h[:8])
            p = self.path(h[8:])
            if p is None:
                return self.status(num, E_NOT_FOUND)
            if mode == 1:
                if not os.path.isfile(p):
                    return self.status(num, E_NOT_FOUND)
                f = open(p, "rb")
            else:
                # writes never reach the profile's folders: they go to memory
                data = open(p, "rb").read() if os.path.isfile(p) and mode in (2, 5, 6) else b""
                f = io.BytesIO(data)
            handle = self.next_handle
            self.next_handle += 1
            self.handles[handle] = f
            return self.send(num, OP_OPEN_RES, struct.pack("<Q", handle))
        if op in (OP_READ, OP_WRITE, OP_SEEK, OP_TELL, OP_CLOSE, OP_LOCK):
            if len(h) < 8:
                return self.status(num, E_INVALID_ARG)
            (handle,) = struct.unpack("<Q", h[:8])
            f = self.handles.get(handle)
            if f is None:
                return self.status(num, E_INVALID_ARG)
            if op == OP_READ:
                (length,) = struct.unpack("<Q", h[8:16])
                return self.send(num, OP_DATA, payload=f.read(min(length, 1 << 20)))
            if op == OP_WRITE:
                if isinstance(f, io.BytesIO):
                    f.write(payload)
                    return self.status(num, 0)
                return self.status(num, E_PERM)
            if op == OP_SEEK:
                whence, offset = struct.unpack("<Qq", h[8:24])
                f.seek(offset, whence)
                return self.status(num, 0)
            if op == OP_TELL:
                return self.send(num, OP_TELL_RES, struct.pack("<Q", f.tell()))
            if op == OP_CLOSE:
                f.close()
                del self.handles[handle]
            return self.status(num, 0)
        if op in (OP_MKDIR, OP_REMOVE):
            return self.status(num, 0)
        return self.status(num, E_NOT_SUPPORTED)


# mobilebackup2 -------------------------------------------------------------------
EMPTY = "___EmptyParameterString___"


class MobileBackup2:
    def __init__(self, server, dev, sock):
        self.server, self.dev, self.sock = server, dev, sock

    def send(self, obj):
        send_plist(self.sock, obj, binary=True)

    def run(self):
        self.send(["DLMessageVersionExchange", 300, 0])
        reply = recv_plist(self.sock)
        if not (isinstance(reply, list) and len(reply) > 1 and reply[1] == "DLVersionsOk"):
            return
        self.send(["DLMessageDeviceReady"])
        while not STOP.is_set():
            msg = recv_plist(self.sock)
            if not isinstance(msg, list) or not msg:
                return
            if msg[0] == "DLMessageDisconnect":
                return
            if msg[0] != "DLMessageProcessMessage" or len(msg) < 2:
                continue
            body = msg[1]
            name = body.get("MessageName")
            if name == "Hello":
                self.send(["DLMessageProcessMessage",
                           {"MessageName": "Response", "ErrorCode": 0, "ProtocolVersion": 2.1}])
            elif name == "Backup":
                self.backup()
            elif name == "ChangePassword":
                new, old = body.get("NewPassword"), body.get("OldPassword")
                if new is not None and old is not None:
                    # a password check: answered, never acted on
                    if old == self.dev.backup_password:
                        self.send(["DLMessageProcessMessage", {"ErrorCode": 0}])
                    else:
                        self.send(["DLMessageProcessMessage",
                                   {"ErrorCode": 207, "ErrorDescription": "The password is not right"}])
                    continue
                if new is not None and old is None:
                    self.dev.will_encrypt = True
                elif old is not None and new is None:
                    self.dev.will_encrypt = False
                self.send(["DLMessageProcessMessage", {"ErrorCode": 0}])
            else:
                self.send(["DLMessageProcessMessage",
                           {"ErrorCode": 0, "Content": "Not supported by the simulated phone."}])

    def status(self):
        reply = recv_plist(self.sock)
        if not isinstance(reply, list) or not reply or reply[0] != "DLMessageStatusResponse":
            raise ConnectionError("unexpected host reply")
        return reply

    def backup(self):
        dev = self.dev
        if dev.backup is None:
            self.send(["DLMessageProcessMessage",
                       {"ErrorCode": 105, "ErrorDescription": "The simulated phone has no backup"}])
            return
        mode, dev.next_backup = dev.next_backup, None
        udid = dev.udid
        files, dirs = [], []
        for top, subdirs, names in os.walk(dev.backup):
            subdirs.sort()
            rel_top = os.path.relpath(top, dev.backup)
            if rel_top != ".":
                dirs.append(rel_top)
            for n in sorted(names):
                rel = os.path.normpath(os.path.join(rel_top, n))
                if rel in ("Info.plist", "Status.plist"):
                    continue
                files.append(rel)
        # the snapshot is marked finished last, so an interrupted run never looks complete
        manifests = [f for f in files if f.startswith("Manifest.")]
        files = [f for f in files if f not in manifests] + manifests
        status_path = os.path.join(dev.backup, "Status.plist")
        status_data = open(status_path, "rb").read() if os.path.isfile(status_path) else None
        if status_data is None or b"finished" not in status_data:
            status_data = plistlib.dumps({"SnapshotState": "finished", "IsFullBackup": True,
                                          "Version": "3.3", "BackupState": "new",
                                          "UUID": udid})

        self.send(["DLMessageGetFreeDiskSpace"])
        self.status()
        self.send(["DLMessageCreateDirectory", udid, 0, 0.0])
        self.status()
        for d in dirs:
            self.send(["DLMessageCreateDirectory", udid + "/" + d, 0, 0.0])
            self.status()

        batches = [files[i:i + 16] for i in range(0, len(files), 16)]
        batches.append([None])  # Status.plist
        half = len(batches) // 2
        for index, batch in enumerate(batches):
            if mode and index == half:
                if mode == "stall":
                    while not STOP.is_set() and not dev.detached.wait(0.2):
                        pass
                    raise ConnectionError("stalled backup ended")
                # fail: drop the connection in the middle of a file
                self.sock.sendall(struct.pack(">I", 4) + b"path")
                raise ConnectionError("simulated failure")
            blobs = []
            for rel in batch:
                if rel is None:
                    blobs.append(("Status.plist", status_data))
                else:
                    with open(os.path.join(dev.backup, rel), "rb") as f:
                        blobs.append((rel, f.read()))
            total = sum(len(b) for _, b in blobs)
            progress = 100.0 * index / len(batches)
            self.send(["DLMessageUploadFiles", {}, progress, total])
            for rel, data in blobs:
                dest = (udid + "/" + rel).encode()
                src = ("/var/mobile/Backup/" + rel).encode()
                self.sock.sendall(struct.pack(">I", len(src)) + src)
                self.sock.sendall(struct.pack(">I", len(dest)) + dest)
                for off in range(0, len(data), 65536):
                    chunk = data[off:off + 65536]
                    self.sock.sendall(struct.pack(">IB", len(chunk) + 1, 0x0C) + chunk)
                self.sock.sendall(struct.pack(">IB", 1, 0x00))
            self.sock.sendall(struct.pack(">I", 0))
            self.status()
        self.send(["DLMessageProcessMessage", {"ErrorCode": 0}])


# control and start-up ------------------------------------------------------------
def serve_control(server, sock):
    sock.settimeout(WAIT)
    try:
        f = sock.makefile("rwb", buffering=0)
        for line in f:
            words = line.decode("utf-8", "replace").split()
            if not words:
                continue
            cmd, args = words[0], words[1:]
            if cmd == "list":
                text = "".join("%s %s\n" % (d.udid, "attached" if d.attached else "detached")
                               for d in server.devices) + "ok\n"
                sock.sendall(text.encode())
                continue
            dev = server.by_udid(args[0]) if args else None
            if dev is None:
                sock.sendall(b"error no phone with that UDID\n")
                continue
            if cmd == "attach":
                server.attach(dev)
            elif cmd == "detach":
                server.detach(dev)
            elif cmd == "fail-backup":
                dev.next_backup = "fail"
            elif cmd == "stall-backup":
                dev.next_backup = "stall"
            else:
                sock.sendall(("error unknown command %s\n" % cmd).encode())
                continue
            sock.sendall(b"ok\n")
    except OSError:
        pass
    finally:
        sock.close()


def load_profile(path):
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except OSError as e:
        raise ProfileError("cannot read %s: %s" % (path, e.strerror))
    except ValueError as e:
        raise ProfileError("%s is not valid JSON: %s" % (path, e))
    specs = data.get("devices") if isinstance(data, dict) and "devices" in data else [data]
    if not isinstance(specs, list) or not specs:
        raise ProfileError("%s lists no phone" % path)
    base = os.path.dirname(os.path.abspath(path))
    devices = [Device(s, base, i + 1) for i, s in enumerate(specs)]
    if len({d.udid for d in devices}) != len(devices):
        raise ProfileError("%s names one UDID twice" % path)
    return devices


def make_profile(backup, out, afc_root, password=None):
    backup = os.path.abspath(backup)
    info = {}
    for name in ("Info.plist", "Manifest.plist"):
        p = os.path.join(backup, name)
        if os.path.isfile(p):
            with open(p, "rb") as f:
                try:
                    info.update(plistlib.load(f))
                except Exception:
                    pass
    udid = info.get("Target Identifier") or info.get("Unique Identifier") or os.path.basename(backup)
    entry = {"UDID": udid, "DeviceName": info.get("Device Name", "Simulated iPhone"),
            "ProductType": info.get("Product Type", "iPhone12,1"),
            "ProductVersion": info.get("Product Version", "14.8"),
            "BuildVersion": info.get("Build Version", "18H17"),
            "SerialNumber": info.get("Serial Number", "F00SIMULATED"),
            "WillEncrypt": bool(info.get("IsEncrypted", False)), "backup": backup}
    if afc_root:
        entry["afcRoot"] = os.path.abspath(afc_root)
    if password is not None:
        entry["BackupPassword"] = password
    with open(out, "w", encoding="utf-8") as f:
        json.dump({"devices": [entry]}, f, indent=2)
    return udid


def listen_unix(path):
    if os.path.exists(path):
        os.unlink(path)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(path)
    s.listen(64)
    s.settimeout(0.2)
    return s


def accept_loop(listener, handler):
    while not STOP.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            return
        conn.settimeout(None)
        threading.Thread(target=handler, args=(conn,), daemon=True).start()


def main():
    ap = argparse.ArgumentParser(description="Simulated iPhone behind a fake usbmuxd.")
    ap.add_argument("--socket")
    ap.add_argument("--profile")
    ap.add_argument("--control")
    ap.add_argument("--make-profile", metavar="BACKUP_DIR")
    ap.add_argument("--out")
    ap.add_argument("--afc-root")
    ap.add_argument("--password")
    ap.add_argument("--send", nargs=2, metavar=("CONTROL_SOCKET", "COMMAND"),
                    help="send one control command to a running phone and print the answer")
    a = ap.parse_args()
    if a.send:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(10)
        s.connect(a.send[0])
        s.sendall((a.send[1] + "\n").encode())
        answer = s.recv(4096).decode(errors="replace").strip()
        print(answer)
        return 0 if answer.startswith("ok") else 1
    if a.make_profile:
        if not a.out:
            ap.error("--make-profile needs --out")
        print(make_profile(a.make_profile, a.out, a.afc_root, a.password))
        return 0
    if not a.socket or not a.profile:
        ap.error("--socket and --profile are required")
    try:
        devices = load_profile(a.profile)
    except ProfileError as e:
        print("simphone: bad profile: %s" % e, file=sys.stderr)
        return 2
    server = Server(devices)
    control = a.control or a.socket + ".ctl"
    signal.signal(signal.SIGTERM, lambda *_: STOP.set())
    signal.signal(signal.SIGINT, lambda *_: STOP.set())
    mux = listen_unix(a.socket)
    ctl = listen_unix(control)
    threads = [threading.Thread(target=accept_loop, args=(mux, server.serve_mux), daemon=True),
               threading.Thread(target=accept_loop,
                                args=(ctl, lambda c: serve_control(server, c)), daemon=True)]
    for t in threads:
        t.start()
    print("simphone ready %s control %s" % (a.socket, control), flush=True)
    while not STOP.wait(0.2):
        pass
    for t in threads:
        t.join(1.0)
    for s, p in ((mux, a.socket), (ctl, control)):
        s.close()
        try:
            os.unlink(p)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks what the built library exports (and, on Windows, imports).

Linux:   nm -D --defined-only on libtesselsdk.so
Windows: objdump -p on tesselsdk.dll (export table, import table) and the
         fixed file version of its version resource.
--archive: nm of the reporter's static library: every public function carries
         the sentry_halyx_ prefix (sentry_halyx_init is there, sentry_init not).
"""

import argparse
import re
import struct
import subprocess
import sys

FLAT = [
    "TesselSDK_Create", "TesselSDK_Destroy", "TesselSDK_Initialize", "TesselSDK_Shutdown",
    "TesselSDK_HandlePlayerConnected", "TesselSDK_GetBitrateConfig", "TesselSDK_SendMobileNotify",
    "TesselSDK_PushWebRTCStatsReport", "TesselSDK_GetWindowsEventsApiUrl", "TesselSDK_GetEventApiUrl",
    "TesselSDK_InitLogger", "TesselSDK_Log", "TesselSDK_SendTallo", "TesselSDK_SetInitSentry",
    "TesselSDK_SetCreateStreamer", "TesselSDK_SetStartStreaming", "TesselSDK_SetBitrateCallback",
    "TesselSDK_SetOnConnectionReady", "TesselSDK_SetOnApplyRTCConfig",
]
# Create, Destroy, default and copy constructors, copy assignment, destructor
# (every Itanium ABI variant the compiler emits).
CLASS_REQUIRED = [
    "_ZN9TesselSDK9LinkLogic6CreateEPKciNS_17PlatformInterfaceE",
    "_ZN9TesselSDK9LinkLogic7DestroyEPS0_",
    "_ZN9TesselSDK9LinkLogicC1Ev", "_ZN9TesselSDK9LinkLogicC1ERKS0_",
    "_ZN9TesselSDK9LinkLogicaSERKS0_",
    "_ZN9TesselSDK9LinkLogicD1Ev",
]
CLASS_OPTIONAL = [
    "_ZN9TesselSDK9LinkLogicC2Ev", "_ZN9TesselSDK9LinkLogicC2ERKS0_",
    "_ZN9TesselSDK9LinkLogicD0Ev", "_ZN9TesselSDK9LinkLogicD2Ev",
    "_ZTIN9TesselSDK9LinkLogicE", "_ZTSN9TesselSDK9LinkLogicE", "_ZTVN9TesselSDK9LinkLogicE",
]
LINUX_REQUIRED_RTTI = ["_ZTIN9TesselSDK9LinkLogicE", "_ZTVN9TesselSDK9LinkLogicE"]

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "winhttp.dll",
    "dxgi.dll", "pdh.dll", "version.dll", "msvcrt.dll", "ntdll.dll", "ws2_32.dll", "bcrypt.dll", "crypt32.dll",
    "shlwapi.dll", "rpcrt4.dll", "gdi32.dll", "secur32.dll", "iphlpapi.dll", "dbghelp.dll", "ucrtbase.dll",
    "userenv.dll", "powrprof.dll", "setupapi.dll",
}


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def check_list(found, failures):
    found = set(found)
    missing = [s for s in FLAT + CLASS_REQUIRED if s not in found]
    extra = sorted(s for s in found if s not in FLAT + CLASS_REQUIRED + CLASS_OPTIONAL)
    if missing:
        failures.append("missing exports: " + ", ".join(missing))
    if extra:
        failures.append("unexpected exports: " + ", ".join(extra))
    return found


def linux(args, failures):
    out = run([args.tool, "-D", "--defined-only", args.library])
    names = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[1] not in ("A",):
            names.append(parts[2].split("@")[0])
    found = check_list(names, failures)
    for s in LINUX_REQUIRED_RTTI:
        if s not in found:
            failures.append("missing export: " + s)


def reporter_archive(args, failures):
    out = run([args.tool, "--defined-only", "-g", args.archive])
    names = {line.split()[-1] for line in out.splitlines() if len(line.split()) >= 3}
    if "sentry_halyx_init" not in names:
        failures.append("sentry_halyx_init is not defined")
    bare = sorted(n for n in names if re.match(r"sentry_(?!_|halyx_)", n))
    if bare:
        failures.append("functions without the sentry_halyx_ prefix: " + ", ".join(bare[:20]))


def file_version(path):
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def windows(args, failures):
    out = run([args.tool, "-p", args.library])
    names = []
    in_names = False
    dlls = []
    for line in out.splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            in_names = True
            continue
        if in_names:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if m:
                names.append(m.group(1))
                continue
            in_names = False
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dlls.append(m.group(1))
    check_list(names, failures)
    for dll in dlls:
        low = dll.lower()
        if low == "ombrel.dll" or low in SYSTEM_DLLS or low.startswith("api-ms-win-"):
            continue
        failures.append("imports a DLL that is neither a system DLL nor Ombrel.dll: " + dll)
    if "ombrel.dll" not in [d.lower() for d in dlls]:
        failures.append("does not import Ombrel.dll")
    version = file_version(args.library)
    if version != args.version:
        failures.append("file version %s, expected %s" % (version, args.version))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--platform", choices=["linux", "windows"], required=True)
    p.add_argument("--tool", required=True)
    p.add_argument("--library")
    p.add_argument("--archive")
    p.add_argument("--version", help="expected file version (Windows)")
    args = p.parse_args()
    failures = []
    if args.archive:
        reporter_archive(args, failures)
    else:
        (linux if args.platform == "linux" else windows)(args, failures)
    for f in failures:
        print("FAIL: " + f)
    if not failures:
        print("%s is as expected" % (args.archive or args.library))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

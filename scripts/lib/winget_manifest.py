#!/usr/bin/env python3
"""Writes the Windows Package Manager's multi-file manifest of one release: the version file, the
default-locale file and the installer file, for the versioned installer URL and its digest, with
the installer's exit codes read from app/exit_codes.h.

usage: winget_manifest.py <version> <versioned installer URL> <sha256> <exit_codes.h> <out folder>
"""
import os
import re
import sys

import yaml

IDENTIFIER = "Dravolt.VarnokClient"
MANIFEST_VERSION = "1.28.0"
# One entry a line: {code, "winget ReturnResponse", u"what happened"},
ENTRY = re.compile(r'^\s*\{\s*(\d+)\s*,\s*"(\w*)"\s*,\s*u"(?:[^"\\]|\\.)*"\s*\}\s*,', re.M)


def exit_codes(header):
    with open(header, encoding="utf-8") as f:
        found = [(int(code), response) for code, response in ENTRY.findall(f.read())]
    # 0 is success, which a manifest never lists; an empty table would be a header that no
    # longer has the expected shape, and would tell winget every failure is unknown.
    codes = [(code, response) for code, response in found if code != 0]
    if not codes:
        sys.exit(f"winget: no exit codes in {header}")
    return codes


def write(folder, kind, document):
    name = IDENTIFIER + {"version": "", "defaultLocale": ".locale.en-US",
                         "installer": ".installer"}[kind] + ".yaml"
    head = (f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}."
            f"{MANIFEST_VERSION}.schema.json\n")
    body = yaml.safe_dump(document, sort_keys=False, allow_unicode=True, width=1000)
    with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
        f.write(head + body)


def main(version, url, sha256, header, folder):
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    tail = {"ManifestVersion": MANIFEST_VERSION}
    os.makedirs(folder, exist_ok=True)
    write(folder, "version", {**common, "DefaultLocale": "en-US", "ManifestType": "version",
                              **tail})
    write(folder, "defaultLocale", {
        **common, "PackageLocale": "en-US", "Publisher": "Dravolt", "PackageName": "Varnok Client",
        "License": "Proprietary", "Copyright": "Copyright (C) Dravolt",
        "ShortDescription": "The Varnok Client for Windows, installed for the current user.",
        "ManifestType": "defaultLocale", **tail})
    write(folder, "installer", {
        **common,
        "InstallerType": "exe",
        "Scope": "user",
        # Without a switch the installer opens its window, where the user picks the folder.
        "InstallModes": ["interactive", "silent", "silentWithProgress"],
        "InstallerSwitches": {"Silent": "--silent", "SilentWithProgress": "--silent",
                              "InstallLocation": '--install-dir "<INSTALLPATH>"',
                              "Log": '--log "<LOGPATH>"'},
        "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response}
                                for code, response in exit_codes(header)],
        # Installing over an installed client replaces it in place; the client updates itself,
        # so winget upgrades it only when asked by name.
        "UpgradeBehavior": "install",
        "RequireExplicitUpgrade": True,
        # The name of the uninstall key the installer writes: how winget finds its entry.
        "ProductCode": "VarnokClient",
        # What the uninstall entry shows, so that winget ties the installed program to the package.
        "AppsAndFeaturesEntries": [{"DisplayName": "Varnok Client", "Publisher": "Dravolt",
                                    "ProductCode": "VarnokClient"}],
        "ElevationRequirement": "elevationProhibited",
        "Installers": [{"Architecture": "x64", "InstallerUrl": url,
                        "InstallerSha256": sha256.upper()}],
        "ManifestType": "installer", **tail})


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(*sys.argv[1:])

#!/usr/bin/env python3
"""What the shipped Windows binaries are made of, from the linker's own maps.

Every shipped binary is linked with -Wl,-Map (bin/NAME.map beside it). The
map names each object and each archive member the linker took; each one is
the kit's own (from the build), OpenSSL's libcrypto (the library that
cmake/openssl-mingw.sh built from a verified tarball), or a file of a Debian
package (dpkg tells which). A file of a package this script has no entry
for is an error: a component nobody listed would ship without its notice.

  sbom.py notices OUT TARGET=BUILD ...
      THIRD-PARTY-NOTICES.txt for the binaries in BUILD/bin (the package's)
  sbom.py make RELEASE VERSION COMMIT TARGET=BUILD ...
      RELEASE/THIRD-PARTY-NOTICES.txt and RELEASE/velk-access.cdx.json for
      the binaries in RELEASE/TARGET (their bytes as shipped, signed or not)
  sbom.py check SBOM TARGET=BUILD ...
      fails when a binary links a component the SBOM does not list for it

Times come from SOURCE_DATE_EPOCH; nothing of the build machine (paths,
user, clock) goes into either file, so the same commit gives the same bytes.
"""

import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import uuid

# Components by Debian source package. "part" picks the component by file
# name where one source package makes several.
GCC_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"
COMPONENTS = {
    "gcc-mingw-w64": [
        (re.compile(r"libstdc\+\+"), "libstdc++", GCC_LICENCE, "the GNU C++ library of GCC"),
        (re.compile(r""), "libgcc", GCC_LICENCE, "GCC's low-level runtime (libgcc, libgcc_eh, crtbegin, crtend)"),
    ],
    "mingw-w64": [
        (re.compile(r"pthread"), "winpthreads", "ZPL-2.1",
         "mingw-w64's POSIX threads library"),
        (re.compile(r""), "mingw-w64-crt", "ZPL-2.1",
         "mingw-w64's C runtime, startup code and import libraries"),
    ],
}
OPENSSL = ("openssl", "Apache-2.0", "OpenSSL's libcrypto (SHA-256 and AES-256-CBC only)")


def fail(message):
    print("sbom: " + message, file=sys.stderr)
    sys.exit(1)


def run(*command):
    return subprocess.run(command, check=False, capture_output=True, text=True).stdout


def read_map(path, base):
    """The files the linker used: archive(member) pairs and objects (relative
    paths are the build folder's, where the linker ran)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        fail(f"no link map {os.path.basename(path)} (the binary was not linked with -Wl,-Map)")
    used = set()
    in_members = False
    for line in lines:
        if line.startswith("Archive member included"):
            in_members = True
            continue
        if in_members and (line.startswith("Discarded input sections") or line.startswith("Memory Configuration")
                           or line.startswith("Allocating common symbols")):
            in_members = False
        if in_members:
            m = re.match(r"^(\S.*\.a)\((.*)\)$", line)
            if m:
                used.add((os.path.realpath(os.path.join(base, m.group(1))), m.group(2)))
            continue
        m = re.match(r"^LOAD (.*\.(?:o|obj))$", line)
        if m:
            used.add((os.path.realpath(os.path.join(base, m.group(1))), ""))
    if not used:
        fail(f"{os.path.basename(path)} names no input file")
    return used


class Facts:
    """What the build machine knows of a file: package, versions, texts."""

    def __init__(self):
        self.owner = {}
        self.packages = {}

    def owners(self, paths):
        wanted = [p for p in paths if p not in self.owner]
        if wanted:
            for line in run("dpkg", "-S", *wanted).splitlines():
                package, _, path = line.partition(": ")
                for p in path.split(", "):
                    self.owner[os.path.realpath(p.strip())] = package.split(":")[0]
            for p in wanted:
                self.owner.setdefault(p, None)

    def package(self, name):
        if name not in self.packages:
            self.packages[name] = self._package(name)
        return self.packages[name]

    @staticmethod
    def _package(name):
        fields = run("dpkg-query", "-W", "-f", "${Version}\t${source:Package}\t${source:Version}\t${Architecture}",
                     name).split("\t")
        if len(fields) != 4:
            fail(f"dpkg knows no package {name}")
        version, source, source_version, arch = fields
        deb = f"{name}_{re.sub(r'^[0-9]+:', '', version)}_{arch}.deb"
        sha = ""
        for line in run("apt-cache", "show", f"{name}={version}").splitlines():
            if line.startswith("SHA256: "):
                sha = line[8:].strip()
                break
        return {"version": version, "source": source, "source_version": source_version, "deb": deb, "deb_sha256": sha}


def openssl_prefix(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                if line.startswith("OPENSSL_CRYPTO_LIBRARY:"):
                    library = line.split("=", 1)[1].strip()
                    if library and not library.endswith("NOTFOUND"):
                        return os.path.realpath(os.path.join(os.path.dirname(library), ".."))
    except OSError:
        pass
    return None


def openssl_facts(prefix):
    def text(name):
        try:
            with open(os.path.join(prefix, name), encoding="utf-8") as f:
                return f.read()
        except OSError:
            fail(f"libcrypto's {name} is missing in its cache folder: run cmake/openssl-mingw.sh again")
    stamp = text("VERSION").splitlines()[0]
    m = re.match(r"openssl (\S+) \(Debian (\S+)\)", stamp)
    if not m:
        fail("libcrypto's VERSION names no version")
    source = text("SOURCE").split()
    # "openssl_3.0.22.orig.tar.gz sha256 HEX checked against ..."
    return {"version": m.group(1), "debian": m.group(2), "archive": source[0], "sha256": source[2],
            "licence_text": text("LICENSE.txt")}


def components_of(binary_map, build, facts, openssl):
    """{component name: details} that one binary links."""
    used = read_map(binary_map, build)
    own = os.path.realpath(build) + os.sep
    crypto = os.path.join(openssl["prefix"], "lib", "libcrypto.a") if openssl else None
    outside = sorted({path for path, _ in used if not path.startswith(own) and path != crypto})
    facts.owners(outside)
    binary = os.path.basename(binary_map)[:-4]
    found = {}
    for path, member in sorted(used):
        if path == crypto:
            found["openssl"] = {"kind": "openssl"}
            continue
        if path.startswith(own):
            continue  # the kit's own objects and libraries
        package = facts.owner.get(path)
        what = os.path.basename(path) + (f"({member})" if member else "")
        if package is None:
            fail(f"{binary} links {what}, which no package owns and the kit did not build")
        pkg = facts.package(package)
        parts = COMPONENTS.get(pkg["source"])
        if not parts:
            fail(f"{binary} links {what} of package {package} (source {pkg['source']}), "
                 "a component the SBOM does not list: add it to tools/release/sbom.py")
        for pattern, name, licence, summary in parts:
            if pattern.search(os.path.basename(path)):
                entry = found.setdefault(name, {"kind": "debian", "licence": licence, "summary": summary,
                                                "packages": {}})
                entry["packages"][package] = pkg
                break
    return found


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def collect(targets, release=None, qualified=False):
    """[(shipped name, its path, {component: details})] over TARGET=BUILD
    specs: the files in RELEASE/TARGET (named TARGET/NAME), or without a
    release the binaries of BUILD/bin that have a link map."""
    facts = Facts()
    shipped = []
    openssl = None
    for pair in targets:
        target, _, build = pair.partition("=")
        build = os.path.realpath(build)
        files_dir = os.path.join(release, target) if release else os.path.join(build, "bin")
        names = sorted(n for n in os.listdir(files_dir) if n.endswith((".dll", ".exe")))
        if release is None:
            names = [n for n in names if os.path.exists(os.path.join(build, "bin", n + ".map"))]
        if not names:
            continue
        prefix = openssl_prefix(build)
        if prefix:
            these = openssl_facts(prefix)
            if openssl is not None and these["sha256"] != openssl["sha256"]:
                fail("the targets were built from different OpenSSL sources")
            openssl = these
            openssl["prefix"] = prefix
        for name in names:
            found = components_of(os.path.join(build, "bin", name + ".map"), build, facts, openssl)
            shipped.append((f"{target}/{name}" if release or qualified else name,
                            os.path.join(files_dir, name), found))
    if not shipped:
        fail("no shipped binary with a link map")
    return shipped, openssl


def notices(shipped, openssl):
    out = ["Third-party software in the velk-access installation support kit", "=" * 64, "",
           "Each shipped file below contains, linked in statically, the components",
           "listed under it. Their licence and notice texts follow in full.", ""]
    for name, _, found in shipped:
        out.append(f"{name}:")
        for component in sorted(found) or ["(none)"]:
            out.append(f"  {component}")
    out.append("")
    texts = {}
    for _, _, found in shipped:
        for component, details in found.items():
            texts.setdefault(component, details)
    printed = {}  # copyright file (or licence) -> the component it was printed for
    for component in sorted(texts):
        details = texts[component]
        out += ["", "-" * 72]
        if details["kind"] == "openssl":
            out += [f"{component} {openssl['version']} ({OPENSSL[2]})", f"Licence: {OPENSSL[1]}",
                    f"Source: {openssl['archive']} (SHA-256 {openssl['sha256']}), Debian openssl {openssl['debian']}",
                    "Text: LICENSE.txt of that source archive", "-" * 72, "", openssl["licence_text"].rstrip("\n")]
            continue
        packages = details["packages"]
        first = packages[sorted(packages)[0]]
        out += [f"{component} {upstream(first['version'])} ({details['summary']})", f"Licence: {details['licence']}",
                f"Source: Debian source package {first['source']} {first['source_version']}",
                "Packages: " + ", ".join(f"{p} {packages[p]['version']}" for p in sorted(packages))]
        for p in sorted(packages):
            path = os.path.realpath(f"/usr/share/doc/{p}/copyright")
            if path in printed:
                out += [f"Text: the copyright file of Debian package {p}, printed above for {printed[path]}"]
                continue
            printed[path] = component
            try:
                with open(path, encoding="utf-8") as f:
                    text = f.read()
            except OSError:
                fail(f"package {p} has no copyright file")
            out += [f"Text: the copyright file of Debian package {p}", "-" * 72, "", text.rstrip("\n")]
        if "GPL-3.0" in details["licence"] and "GPL-3" not in printed:
            printed["GPL-3"] = component
            with open("/usr/share/common-licenses/GPL-3", encoding="utf-8") as f:
                out += ["", f"The GNU General Public License, version 3, to which the GCC Runtime Library",
                        "Exception above applies:", "", f.read().rstrip("\n")]
    return "\n".join(out) + "\n"


def upstream(debian_version):
    """12.2.0 of 12.2.0-14+deb12u1+25.2+b1."""
    return re.sub(r"^[0-9]+:", "", debian_version).split("-")[0]


def component_entry(ref, name, details, openssl):
    if details["kind"] == "openssl":
        return {
            "type": "library", "bom-ref": ref, "name": name, "version": openssl["version"],
            "description": OPENSSL[2],
            "licenses": [{"license": {"id": OPENSSL[1]}}],
            "externalReferences": [{"type": "distribution", "url": openssl["archive"],
                                    "hashes": [{"alg": "SHA-256", "content": openssl["sha256"]}],
                                    "comment": "the source archive it was built from, checked by "
                                               "cmake/openssl-mingw.sh against Debian's signed source index"}],
            "properties": [{"name": "debian:source", "value": f"openssl {openssl['debian']}"}],
        }
    packages = details["packages"]
    first = packages[sorted(packages)[0]]
    references = []
    for p in sorted(packages):
        reference = {"type": "distribution", "url": packages[p]["deb"],
                     "comment": "the Debian package the linker took it from"}
        if packages[p]["deb_sha256"]:
            reference["hashes"] = [{"alg": "SHA-256", "content": packages[p]["deb_sha256"]}]
        references.append(reference)
    return {
        "type": "library", "bom-ref": ref, "name": name, "version": upstream(first["version"]),
        "description": details["summary"],
        "licenses": [{"expression": details["licence"]}] if " " in details["licence"]
        else [{"license": {"id": details["licence"]}}],
        "externalReferences": references,
        "properties": [{"name": "debian:source", "value": f"{first['source']} {first['source_version']}"}]
        + [{"name": "debian:package", "value": f"{p} {packages[p]['version']}"} for p in sorted(packages)],
    }


def bom(shipped, openssl, version, commit):
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    when = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    files = []
    for name, path, found in shipped:
        files.append({
            "type": "file", "bom-ref": name, "name": name, "version": version,
            "hashes": [{"alg": "SHA-256", "content": sha256(path)}],
            # An assembly: the components linked into the file.
            "components": [component_entry(f"{name}#{c}", c, found[c], openssl) for c in sorted(found)],
        })
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.5.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.5",
        "serialNumber": "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, f"velk-access-kit/{version}/{commit}")),
        "version": 1,
        "metadata": {
            "timestamp": when,
            "component": {"type": "application", "bom-ref": "velk-access-kit",
                          "name": "velk-access installation support kit", "version": version,
                          "properties": [{"name": "git:commit", "value": commit}]},
        },
        "components": files,
        "dependencies": [{"ref": "velk-access-kit", "dependsOn": [f["bom-ref"] for f in files]}]
        + [{"ref": f["bom-ref"], "dependsOn": [c["bom-ref"] for c in f["components"]]} for f in files],
    }


def check(sbom_path, targets):
    with open(sbom_path, encoding="utf-8") as f:
        sbom = json.load(f)
    listed = {(f["name"], c["name"]) for f in sbom.get("components", []) for c in f.get("components", [])}
    names = {f["name"] for f in sbom.get("components", [])}
    # Named TARGET/NAME as in the release.
    shipped, _ = collect(targets, qualified=True)
    missing = []
    for name, _, found in shipped:
        if name not in names:
            missing.append(f"{name} is not in the SBOM")
            continue
        missing += [f"{name} links {c}, which the SBOM does not list for it" for c in sorted(found)
                    if (name, c) not in listed]
    for line in missing:
        print("sbom: " + line, file=sys.stderr)
    if missing:
        sys.exit(1)
    print(f"sbom: every linked component of {len(shipped)} binaries is listed in {os.path.basename(sbom_path)}")


def main(argv):
    if len(argv) >= 3 and argv[1] == "notices":
        shipped, openssl = collect(argv[3:])
        with open(argv[2], "w", encoding="utf-8", newline="\n") as f:
            f.write(notices(shipped, openssl))
    elif len(argv) >= 5 and argv[1] == "make":
        release, version, commit = argv[2:5]
        shipped, openssl = collect(argv[5:], release)
        with open(os.path.join(release, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write(notices(shipped, openssl))
        with open(os.path.join(release, "velk-access.cdx.json"), "w", encoding="utf-8", newline="\n") as f:
            json.dump(bom(shipped, openssl, version, commit), f, indent=2, sort_keys=False)
            f.write("\n")
    elif len(argv) >= 4 and argv[1] == "check":
        check(argv[2], argv[3:])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv)

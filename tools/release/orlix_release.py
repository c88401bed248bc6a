#!/usr/bin/python3
"""The maker's one release command (`./dev release`).

    orlix_release.py --game DIR --version a.b.c.d --settings FILE --key KEY --out DIR
                     [--previous OLD.exe ...]

Checks every input first; a bad one gives one line naming it, and nothing is
written. Then it packs the game folder as the launcher's game package, builds
the 32-bit release launcher with the settings and the version in its own
build tree (build/release-i686), signs it with the publishing tool
(tools/publish/orlix_publish.py) and writes the upload folder: OUT/update/
with the launcher, its configuration and signature, and OUT/UPLOAD.txt, which
says where each file goes and in which order. OUT appears whole or not at all.
"""
import argparse
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "gamepackage"))
sys.path.insert(0, os.path.join(ROOT, "tools", "publish"))
import make_package  # noqa: E402  (the entries' fixed time stamp and attributes)

PUBLISH_TOOL = os.path.join(ROOT, "tools", "publish", "orlix_publish.py")
REQUIRED_PROGRAMS = ("tavr_online.exe", "BugReport.exe")
PACKAGE_NAME = "tavrelair.zip"
CONFIG_NAME = "ConfigTavrel.htm"
SIGNATURE_NAME = CONFIG_NAME + ".sig"
UPDATE_FOLDER = "update"  # on the server host: where launchers look for ConfigTavrel.htm

# The install folder on the longest path Windows 7 and later give it: a user
# name has at most 20 characters. The launcher builds every path in a buffer
# of 260 wide characters (259 and the terminator), and Windows makes a folder
# only when its path leaves room for an 8.3 name (248 characters).
INSTALL_FOLDER_LONGEST = "C:\\Users\\" + "U" * 20 + "\\AppData\\Local\\Orlix\\GameLogin\\Tavrel\\"
PATH_CHARS = 259
FOLDER_PATH_CHARS = 247
# The launcher's ZIP reader refuses stored names of 260 bytes or more.
ZIP_NAME_BYTES = 259
# Names Windows keeps for devices, with or without an extension.
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {"COM%d" % i for i in range(1, 10)} | \
                 {"LPT%d" % i for i in range(1, 10)}
FORBIDDEN_CHARS = set('<>:"|?*\\')
# The launcher's reader keeps entry sizes in 32 signed bits and knows no ZIP64.
MAX_FILE_BYTES = 2 ** 31 - 1
MAX_ENTRIES = 65535
MAX_PACKAGE_BYTES = 2 ** 31 - 1

SETTING_NAMES = ("server_host", "probe_url", "allowed_domains", "help_host", "update_key", "backup_keys")
MAX_BACKUP_KEYS = 3
LABEL = r"[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
HOST_PATTERN = re.compile(r"^(%s(?:\.%s)*)(?::([0-9]{1,5}))?$" % (LABEL, LABEL))
DOMAIN_PATTERN = re.compile(r"^%s(?:\.%s)*$" % (LABEL, LABEL))
URL_MAX_CHARS = 511  # the launcher holds URLs in 512 wide characters
MAX_DOMAINS = 3      # the launcher's allow-list has three places


class ReleaseError(Exception):
    """One line for the maker: what is wrong, naming the offender."""


# ---- settings -------------------------------------------------------------------
def check_host(name, value):
    """host[:port] as the launcher puts it after "http://"."""
    m = HOST_PATTERN.match(value)
    if not m or len(m.group(1)) > 253 or (m.group(2) and not 1 <= int(m.group(2)) <= 65535):
        raise ReleaseError("%s: %r is not a host (a host name or IPv4 address, optionally :port; "
                           "no http://, no path)" % (name, value))
    return m.group(1).lower()


def check_url(name, value):
    if not value.startswith("http://"):
        raise ReleaseError("%s: %r is not a plain http:// URL" % (name, value))
    if any(ord(c) <= 0x20 or ord(c) >= 0x7F for c in value) or len(value) > URL_MAX_CHARS:
        raise ReleaseError("%s: %r must be printable ASCII without blanks, at most %d characters"
                           % (name, value, URL_MAX_CHARS))
    rest = value[len("http://"):]
    check_host(name, rest.split("/", 1)[0])


def check_domains(name, value):
    domains = [d for d in re.split(r"[\s,]+", value) if d]
    if not domains:
        raise ReleaseError("%s: empty; the launcher could never download an update" % name)
    if len(domains) > MAX_DOMAINS:
        raise ReleaseError("%s: %d domains; the launcher takes at most %d" % (name, len(domains), MAX_DOMAINS))
    for d in domains:
        if not DOMAIN_PATTERN.match(d) or len(d) > 253:
            raise ReleaseError("%s: %r is not a domain name (no wildcards, ports or dots at its ends); "
                               "it would allow hosts you do not own" % (name, d))
        if "." not in d:
            raise ReleaseError("%s: %r is a single label; it would allow every host under it" % (name, d))
    return [d.lower() for d in domains]


def host_allowed(host, domains):
    return any(host == d or host.endswith("." + d) for d in domains)


def check_update_key(name, values):
    if not values or not values[0]:
        raise ReleaseError("%s: missing; give the key ./dev keygen printed (LAUNCHER_UPDATE_PUBLIC_KEY=04...)"
                           % name)
    if len(values) > 1:
        raise ReleaseError("%s: given %d times; the launcher has one current key (list others in backup_keys)"
                           % (name, len(values)))
    return check_public_key(name, values[0])


def check_public_key(name, key):
    if not re.match(r"^04[0-9a-fA-F]{128}$", key):
        raise ReleaseError("%s: %r is not a public key as ./dev keygen prints it (04 and 128 hexadecimal digits)"
                           % (name, key[:20] + ("..." if len(key) > 20 else "")))
    try:
        from cryptography.hazmat.primitives.asymmetric import ec
        ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes.fromhex(key))
    except ImportError:
        pass  # the publishing tool says what to install
    except ValueError:
        raise ReleaseError("%s: %s... is not a point of P-256; copy the whole line ./dev keygen printed"
                           % (name, key[:20]))
    return key.lower()


def read_settings(path):
    """The settings file as a dict of checked values."""
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeDecodeError) as e:
        raise ReleaseError("--settings %s: cannot read it (%s)" % (path, getattr(e, "strerror", None) or e))
    raw = {}
    for number, line in enumerate(lines, 1):
        text = line.strip()
        if not text or text.startswith("#"):
            continue
        where = "%s:%d" % (path, number)
        if "=" not in text:
            raise ReleaseError("%s: %r is not \"name = value\"" % (where, text))
        name, value = (part.strip() for part in text.split("=", 1))
        if name not in SETTING_NAMES:
            raise ReleaseError("%s: unknown setting %r (known: %s)" % (where, name, ", ".join(SETTING_NAMES)))
        if name in raw and name != "update_key":
            raise ReleaseError("%s: %s is set twice" % (where, name))
        raw.setdefault(name, []).append(value)
    for name in SETTING_NAMES:
        if name not in ("update_key", "backup_keys") and (name not in raw or not raw[name][0]):
            raise ReleaseError("%s: %s is missing" % (path, name))
    settings = {"server_host": raw["server_host"][0], "probe_url": raw["probe_url"][0],
                "help_host": raw["help_host"][0]}
    server = check_host("server_host", settings["server_host"])
    check_url("probe_url", settings["probe_url"])
    check_host("help_host", settings["help_host"])
    settings["allowed_domains"] = check_domains("allowed_domains", raw["allowed_domains"][0])
    if not host_allowed(server, settings["allowed_domains"]):
        raise ReleaseError("allowed_domains: %s does not allow the server host %s, from which launchers download "
                           "the update" % (" ".join(settings["allowed_domains"]), server))
    settings["update_key"] = check_update_key("update_key", raw.get("update_key"))
    backups = [k for k in re.split(r"[\s,]+", (raw.get("backup_keys") or [""])[0]) if k]
    if len(backups) > MAX_BACKUP_KEYS:
        raise ReleaseError("backup_keys: %d keys; the launcher carries at most %d" % (len(backups), MAX_BACKUP_KEYS))
    settings["backup_keys"] = [check_public_key("backup_keys", k) for k in backups]
    if settings["update_key"] in settings["backup_keys"]:
        raise ReleaseError("backup_keys: holds the update_key itself; a backup key must be another key")
    return settings


# ---- version ----------------------------------------------------------------------
def parse_version(text, what="--version"):
    m = re.match(r"^(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})$", text or "")
    if not m or any(int(n) > 65535 for n in m.groups()):
        raise ReleaseError("%s %r is not four numbers a.b.c.d from 0 to 65535" % (what, text))
    return tuple(int(n) for n in m.groups())


def version_text(version):
    return ".".join(str(n) for n in version)


def previous_version(path):
    import orlix_publish
    try:
        return parse_version(orlix_publish.launcher_version(path), "--previous %s: version" % path)
    except orlix_publish.PublishError as e:
        raise ReleaseError("--previous %s: %s" % (path, e))


# ---- the game folder --------------------------------------------------------------
def name_problem(name):
    """Why Windows or the launcher's reader would not take |name| as one
    part of a path, or None."""
    if any(ord(c) < 0x20 or c in FORBIDDEN_CHARS for c in name):
        return "holds a character Windows does not allow in names (<>:\"|?*\\ or a control character)"
    if name.endswith((".", " ")):
        return "ends in a dot or blank, which Windows drops"
    if name.split(".", 1)[0].rstrip(" ").upper() in RESERVED_NAMES:
        return "is a device name on Windows"
    return None


class GameEntry:
    def __init__(self, relative, path, folder, size=0):
        self.relative = relative  # "/"-separated, folders end in "/"
        self.path = path
        self.folder = folder
        self.size = size


def scan_game_folder(game):
    """The entries of the package, folders before what they hold, siblings
    sorted by name; refuses what the launcher could not deploy."""
    if not os.path.isdir(game):
        raise ReleaseError("--game %s: not a folder" % game)
    for program in REQUIRED_PROGRAMS:
        path = os.path.join(game, program)
        if not os.path.isfile(path) or os.path.islink(path):
            raise ReleaseError("--game %s: %s is missing at its top; the launcher starts it from there"
                               % (game, program))
        with open(path, "rb") as f:
            if f.read(2) != b"MZ":
                raise ReleaseError("--game %s: %s is not a Windows program" % (game, program))
    entries = []
    folder_budget = FOLDER_PATH_CHARS - len(INSTALL_FOLDER_LONGEST)
    file_budget = PATH_CHARS - len(INSTALL_FOLDER_LONGEST)

    def walk(folder, prefix):
        try:
            names = os.listdir(os.fsencode(folder))
        except OSError as e:
            raise ReleaseError("--game: cannot list %s (%s)" % (folder, e.strerror))
        seen = {}
        decoded = []
        for raw in names:
            shown = os.path.join(folder, os.fsdecode(raw))
            try:
                name = raw.decode("utf-8")
            except UnicodeDecodeError:
                raise ReleaseError("--game: %r: the name is not UTF-8 text" % shown)
            decoded.append(name)
        for name in sorted(decoded, key=lambda n: n.encode("utf-8")):
            path = os.path.join(folder, name)
            relative = prefix + name
            problem = name_problem(name)
            if problem:
                raise ReleaseError("--game: %s %s" % (path, problem))
            folded = name.casefold()
            if folded in seen:
                raise ReleaseError("--game: %s and %s differ only in case; Windows sees one name"
                                   % (os.path.join(folder, seen[folded]), path))
            seen[folded] = name
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                raise ReleaseError("--game: %s is a symbolic link; put the file itself there" % path)
            is_folder = stat.S_ISDIR(info.st_mode)
            if not is_folder and not stat.S_ISREG(info.st_mode):
                raise ReleaseError("--game: %s is neither a file nor a folder" % path)
            windows_length = len(relative.encode("utf-16-le")) // 2
            budget = folder_budget if is_folder else file_budget
            zip_name = relative + ("/" if is_folder else "")
            if windows_length > budget or len(zip_name.encode("utf-8")) > ZIP_NAME_BYTES:
                raise ReleaseError("--game: %s is too long: %d characters, at most %d for a %s under the "
                                   "install folder" % (path, windows_length, budget,
                                                       "folder" if is_folder else "file"))
            if is_folder:
                entries.append(GameEntry(zip_name, path, True))
                walk(path, zip_name)
            else:
                if info.st_size > MAX_FILE_BYTES:
                    raise ReleaseError("--game: %s is larger than 2 GB, more than the launcher carries" % path)
                entries.append(GameEntry(zip_name, path, False, info.st_size))

    walk(game, "")
    if len(entries) > MAX_ENTRIES:
        raise ReleaseError("--game %s: %d files and folders, more than the %d the launcher reads"
                           % (game, len(entries), MAX_ENTRIES))
    if sum(e.size for e in entries) > MAX_PACKAGE_BYTES:
        raise ReleaseError("--game %s: more than 2 GB of files, more than the launcher carries" % game)
    return entries


def write_package(entries, out):
    """The package: fixed order, time stamps and attributes, so that the same
    folder gives the same bytes (and small deltas between releases)."""
    tmp = out + ".part"
    with zipfile.ZipFile(tmp, "w", allowZip64=False) as z:
        for e in entries:
            if e.folder:
                z.writestr(make_package.folder_entry(e.relative), b"")
                continue
            info = make_package.file_entry(e.relative, True)
            info.file_size = e.size
            with open(e.path, "rb") as src, z.open(info, "w") as dst:
                shutil.copyfileobj(src, dst, 1 << 20)
    if os.path.getsize(tmp) > MAX_PACKAGE_BYTES:
        os.remove(tmp)
        raise ReleaseError("the packed game is larger than 2 GB, more than the launcher carries")
    os.replace(tmp, out)


# ---- key --------------------------------------------------------------------------
def check_key_file(path, settings):
    """The private key must be one the publishing tool can sign with, and one
    the new launcher goes on trusting: its update_key or, in a key roll, a
    backup key. Checked now so that a long build does not end in a refused
    signature. Returns the signing key's public text, or None when the key is
    encrypted and no passphrase is at hand (the publishing tool asks)."""
    try:
        with open(path, "rb") as f:
            pem = f.read()
    except OSError as e:
        raise ReleaseError("--key %s: cannot read it (%s)" % (path, e.strerror))
    if b"PRIVATE KEY-----" not in pem:
        raise ReleaseError("--key %s: not a private key file made by ./dev keygen" % path)
    try:
        from cryptography.hazmat.primitives import serialization
        from cryptography.hazmat.primitives.asymmetric import ec
    except ImportError:
        return
    if b"ENCRYPTED" in pem:
        passphrase = os.environ.get("ORLIX_KEY_PASSPHRASE")
        if passphrase is None:
            return None  # the publishing tool asks for it
        password = passphrase.encode("utf-8")
    else:
        password = None
    try:
        key = serialization.load_pem_private_key(pem, password=password)
    except (ValueError, TypeError) as e:
        raise ReleaseError("--key %s: cannot be read (%s)" % (path, e))
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise ReleaseError("--key %s: not an ECDSA P-256 private key" % path)
    public = key.public_key().public_bytes(serialization.Encoding.X962,
                                           serialization.PublicFormat.UncompressedPoint).hex()
    if public != settings["update_key"] and public not in settings["backup_keys"]:
        raise ReleaseError("--key %s: its public key %s... is neither the settings' update_key nor a backup key; "
                           "the new launcher would refuse every update signed with it" % (path, public[:16]))
    return public


# ---- output folder ------------------------------------------------------------------
def check_out(path):
    out = os.path.abspath(path)
    if os.path.lexists(out) and not (os.path.isdir(out) and not os.listdir(out)):
        raise ReleaseError("--out %s: exists and is not an empty folder; a release folder is never overwritten"
                           % path)
    parent = os.path.dirname(out)
    if not os.path.isdir(parent) or not os.access(parent, os.W_OK):
        raise ReleaseError("--out %s: its parent folder %s is missing or not writable" % (path, parent))
    return out


# ---- build and signing ------------------------------------------------------------------
ARCHES = {
    "i686": "toolchain-i686-w64-mingw32.cmake",
    "x86_64": "toolchain-x86_64-w64-mingw32.cmake",  # end-to-end tests only, where i686 cannot run
}


def log(text):
    print("[release] %s" % text, file=sys.stderr, flush=True)


def build_launcher(arch, settings, version, package):
    """Configures and builds the release launcher in build/release-ARCH;
    returns its path."""
    tree = os.path.join(ROOT, "build", "release-" + arch)
    domains = settings["allowed_domains"] + [""] * (MAX_DOMAINS - len(settings["allowed_domains"]))
    cache = {
        "CMAKE_TOOLCHAIN_FILE": os.path.join(ROOT, "cmake", ARCHES[arch]),
        "CMAKE_BUILD_TYPE": "Release",
        "BUILD_TESTING": "OFF",
        "ORLIX_TEST_SETTINGS": "OFF",
        "LAUNCHER_SERVER_HOST": settings["server_host"],
        "LAUNCHER_PROBE_URL": settings["probe_url"],
        "LAUNCHER_DOMAIN_1": domains[0],
        "LAUNCHER_DOMAIN_2": domains[1],
        "LAUNCHER_DOMAIN_3": domains[2],
        "LAUNCHER_HELP_HOST": settings["help_host"],
        "LAUNCHER_UPDATE_PUBLIC_KEY": settings["update_key"],
        # Offline keys that may sign a key roll, where the launcher carries them.
        "LAUNCHER_UPDATE_BACKUP_KEYS": ",".join(settings["backup_keys"]),
        "ORLIX_RELEASE_VERSION": version_text(version),
        "ORLIX_GAME_PACKAGE_FILE": package,
    }
    os.makedirs(tree, exist_ok=True)
    build_log = os.path.join(tree, "release-build.log")
    commands = [["cmake", "-S", ROOT, "-B", tree, "-G", "Ninja"] + ["-D%s=%s" % kv for kv in cache.items()],
                # The uploader too: ours, built with these settings, sends
                # crash reports to this server host (README, "Ship your game").
                ["cmake", "--build", tree, "--target", "Tavrel_Launcher", "BugReport"]]
    with open(build_log, "w") as out:
        for command in commands:
            if subprocess.run(command, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                with open(build_log, errors="replace") as f:
                    tail = [line for line in f.read().splitlines() if line.strip()][-15:]
                sys.stderr.write("\n".join(tail) + "\n")
                raise ReleaseError("the launcher build failed; the whole output is in %s" % build_log)
    launcher = os.path.join(tree, "Tavrel_Launcher.exe")
    import orlix_publish
    try:
        built = orlix_publish.launcher_version(launcher)
    except orlix_publish.PublishError as e:
        raise ReleaseError("the built launcher: %s" % e)
    if built != version_text(version):
        raise ReleaseError("the built launcher %s has version %s, not %s" % (launcher, built, version_text(version)))
    return launcher


def publishing_tool_takes(option):
    r = subprocess.run([sys.executable, PUBLISH_TOOL, "publish", "--help"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return option in r.stdout


def sign_release(launcher, key, out, url, previous, roll_to=None):
    """The one call of the publishing tool: signs |launcher| into |out| for
    download from |url| (and, where the tool makes them, patches from the
    previous releases); |roll_to| is the new current key when a backup key
    signs a key roll. Returns its output."""
    command = [sys.executable, PUBLISH_TOOL, "publish", launcher, "--key", key, "--out", out, "--url", url]
    if previous and publishing_tool_takes("--previous"):
        for old in previous:
            command += ["--previous", old]
    if roll_to:
        if not publishing_tool_takes("--new-current-key"):
            raise ReleaseError("--key signs with a backup key, but this publishing tool makes no key roll")
        command += ["--new-current-key", roll_to]
    r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        raise ReleaseError("signing failed: %s" % (r.stderr.strip().splitlines() or ["no message"])[-1])
    return r.stdout


def config_value(path, name):
    with open(path, encoding="ascii", errors="replace") as f:
        for line in f:
            if line.startswith(name + "="):
                return line.split("=", 1)[1].strip()
    return None


def upload_text(settings, version, update_files, launcher_name, expires):
    host = settings["server_host"]
    others = [n for n in update_files if n not in (launcher_name, CONFIG_NAME, SIGNATURE_NAME)]
    lines = [
        "OrlixDuskmere launcher %s: what to upload" % version_text(version),
        "",
        "Everything in update/ goes to http://%s/%s/ on your server, in this order," % (host, UPDATE_FOLDER),
        "each file whole (upload under a temporary name and rename it, as rsync does):",
        "",
    ]
    step = 1
    for name in sorted(others) + [launcher_name]:
        lines.append("  %d. update/%s" % (step, name))
        step += 1
    lines += [
        "  %d. update/%s" % (step, SIGNATURE_NAME),
        "  %d. update/%s   (last: installed launchers see the release from now on)" % (step + 1, CONFIG_NAME),
        "",
        "Launchers read the configuration, then its signature. Uploaded in this order, the",
        "download is there before it is offered, and no launcher reads the new configuration",
        "with the old signature (one that starts in between skips the update once).",
        "",
        "New players: offer update/%s for download (save it as Tavrel_Launcher.exe);" % launcher_name,
        "started, it installs itself and the game.",
        "",
        "The configuration expires %s (its Expires line); sign it again before with" % expires,
        "./dev publish and upload the new signature, then the new configuration.",
        "",
    ]
    return "\n".join(lines)


# ---- command line ------------------------------------------------------------------
def main(argv=None):
    parser = argparse.ArgumentParser(prog="./dev release",
                                     description="Pack a game folder into a signed launcher release.")
    parser.add_argument("--game", required=True, metavar="DIR", help="the game client folder")
    parser.add_argument("--version", required=True, metavar="a.b.c.d", help="the launcher's new version")
    parser.add_argument("--settings", required=True, metavar="FILE", help="the maker's settings file")
    parser.add_argument("--key", required=True, metavar="KEY", help="the private key made by ./dev keygen")
    parser.add_argument("--out", required=True, metavar="DIR", help="the upload folder to write (new)")
    parser.add_argument("--previous", action="append", default=[], metavar="OLD.exe",
                        help="an earlier release's launcher: the new version must be above it")
    # The end-to-end test builds the architecture it can run (x86_64 where
    # i686 cannot run); makers ship i686.
    parser.add_argument("--arch", default="i686", choices=sorted(ARCHES), help=argparse.SUPPRESS)
    args = parser.parse_args(argv)

    try:
        # Every input first: a bad one must cost no build and write nothing.
        version = parse_version(args.version)
        settings = read_settings(args.settings)
        signing_public = check_key_file(args.key, settings)
        for old in args.previous:
            if not os.path.isfile(old):
                raise ReleaseError("--previous %s: no such file" % old)
            before = previous_version(old)
            if version <= before:
                raise ReleaseError("--version %s is not above %s of --previous %s"
                                   % (version_text(version), version_text(before), old))
        entries = scan_game_folder(args.game)
        out = check_out(args.out)
        game = os.path.realpath(args.game)
        if os.path.realpath(out) == game or os.path.realpath(out).startswith(game + os.sep):
            raise ReleaseError("--out %s: inside --game %s; the next release would carry this one" % (args.out, args.game))

        log("packing %s (%d files and folders)" % (args.game, len(entries)))
        package_dir = os.path.join(ROOT, "build", "release-" + args.arch, "package")
        os.makedirs(package_dir, exist_ok=True)
        package = os.path.join(package_dir, PACKAGE_NAME)
        write_package(entries, package)
        log("building the %s launcher %s (build/release-%s)" % (args.arch, version_text(version), args.arch))
        launcher = build_launcher(args.arch, settings, version, package)

        staging = tempfile.mkdtemp(prefix=".%s." % os.path.basename(out), dir=os.path.dirname(out))
        try:
            update_dir = os.path.join(staging, UPDATE_FOLDER)
            url = "http://%s/%s/" % (settings["server_host"], UPDATE_FOLDER)
            log("signing")
            roll_to = settings["update_key"] if signing_public and signing_public != settings["update_key"] else None
            sign_release(launcher, args.key, update_dir, url, args.previous, roll_to)
            update_files = sorted(os.listdir(update_dir))
            launchers = [n for n in update_files if n.lower().endswith(".exe")]
            if len(launchers) != 1 or CONFIG_NAME not in update_files or SIGNATURE_NAME not in update_files:
                raise ReleaseError("the publishing tool wrote %s, not one launcher with its configuration and "
                                   "signature" % ", ".join(update_files))
            with open(os.path.join(staging, "UPLOAD.txt"), "w", encoding="utf-8", newline="\r\n") as f:
                f.write(upload_text(settings, version, update_files, launchers[0],
                                    config_value(os.path.join(update_dir, CONFIG_NAME), "Expires") or "unknown"))
            os.chmod(staging, 0o755)
            if os.path.isdir(out):
                os.rmdir(out)  # empty, checked above
            os.rename(staging, out)
        except BaseException:
            shutil.rmtree(staging, ignore_errors=True)
            raise
    except ReleaseError as e:
        print("./dev release: %s" % e, file=sys.stderr)
        return 1
    print("release %s written to %s; upload it as %s says"
          % (version_text(version), args.out, os.path.join(args.out, "UPLOAD.txt")))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""The maker's update publishing tool.

    orlix_publish.py keygen FILE
        Makes an ECDSA P-256 key pair. The private key goes to FILE (PEM,
        encrypted with a passphrase read without echo, or from the environment
        variable ORLIX_KEY_PASSPHRASE; readable by its owner only; an existing
        file is never overwritten); the public key is printed in the form the
        build settings LAUNCHER_UPDATE_PUBLIC_KEY and
        LAUNCHER_UPDATE_BACKUP_KEYS take.

    orlix_publish.py pubkey FILE
        Prints the public key of the private key in FILE.

    orlix_publish.py publish LAUNCHER.exe --key FILE --out DIR [--url URL] [--expires DAYS]
                     [--channel NAME] [--new-current-key KEY --retire-key KEY...]
                     [--previous OLD.exe]...
        Writes into DIR, ready to copy to the update folder of any static web
        server: the update configuration "ConfigTavrel.htm", its detached
        signature "ConfigTavrel.htm.sig", and the launcher under its download
        name. The launcher must carry the signing key as its current key (or,
        for a key roll signed with a backup key, --new-current-key). With
        --previous, also a patch from each previous launcher to this one beside
        it ("NAME_from_SHA12.patch", made and checked by
        build/native/tools/orlix_makepatch).

    orlix_publish.py resign DIR --key FILE [--expires DAYS]
        Signs the release in DIR again with a new publication number and
        expiry (its patches kept): the line for a scheduled job.

The configuration is the "VerKey" section the launchers read:

    Tavrel   version key: MD5 of the file (lowercase hex) cut to 32 minus the
             length of the dot-free version, then the dot-free version
    UpdAddr  the http URL the launcher is downloaded from
    Version  the launcher's file version "a.b.c.d" (from its version resource)
    Sha256   SHA-256 of the launcher file, 64 lowercase hexadecimal digits
    Expires  UTC time after which launchers no longer act on it,
             "YYYY-MM-DDTHH:MM:SSZ"
    Serial   publication number: grows with every publication and re-signing
    Product  "Tavrel"
    Channel  the channel the launchers were built for ("release")
    Size     the launcher file's size in bytes
    CurrentKey, RetireKeys   only in a key roll signed with a backup key: the
             launchers' new current key, and the keys they stop trusting
             (comma-separated)

    PatchNBase, PatchNSize, PatchNAddr (N = 1, 2, ...)
             per patch: SHA-256 of the launcher it applies to, its size in
             bytes, its http URL (beside the launcher's)

Launchers built without a public key read only "Tavrel", "UpdAddr" and the
patch keys; launchers older than the patches ignore those. The
signature is ECDSA P-256 with SHA-256 over the exact bytes of the
configuration file, DER-encoded (what `openssl dgst -sha256 -sign` writes).
"""
import argparse
import datetime
import getpass
import hashlib
import os
import re
import sys

try:
    import pefile
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
except ImportError as missing:  # pragma: no cover - what a fresh machine without ./dev setup sees
    sys.exit("orlix_publish: %s (./dev setup installs python3-cryptography and python3-pefile)" % missing)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PRODUCT_CODE = "Tavrel"
SECTION = "VerKey"
CONFIG_NAME = "ConfigTavrel.htm"
SIGNATURE_NAME = CONFIG_NAME + ".sig"
KEY_LENGTH = 32
URL_MAX_CHARS = 511  # the launcher holds URLs in 512 wide characters
DEFAULT_EXPIRY_DAYS = 7
MAX_EXPIRY_DAYS = 31      # a configuration is replayable until it expires: keep that short
MAX_VERSION_STEP = 10     # the part of the version that grows grows by at most this much
PASSPHRASE_ENV = "ORLIX_KEY_PASSPHRASE"
KEYS_RECORD_MARK = "orlix-update-keys"
DEFAULT_CHANNEL = "release"
CHANNEL_PATTERN = re.compile(r"^[A-Za-z0-9-]{1,40}$")
KEY_TEXT_PATTERN = re.compile(r"^04[0-9a-f]{128}$")
DOWNLOAD_NAME_PATTERN = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]{0,99}$")


class PublishError(Exception):
    pass


# ---- keys -------------------------------------------------------------------
def public_key_text(public_key):
    """The build setting's form: "04", then X and Y as 64 hex digits each."""
    point = public_key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    return point.hex()


def passphrase(confirm=False):
    """The private key's passphrase: ORLIX_KEY_PASSPHRASE (scheduled jobs), or
    read from the terminal without echo."""
    text = os.environ.get(PASSPHRASE_ENV)
    if text is None:
        if not sys.stdin.isatty():
            raise PublishError("no passphrase: set %s or run on a terminal" % PASSPHRASE_ENV)
        text = getpass.getpass("passphrase of the update key: ")
        if confirm and getpass.getpass("the same passphrase again: ") != text:
            raise PublishError("the two passphrases differ")
    if confirm and len(text) < 8:
        raise PublishError("the passphrase must be at least 8 characters long")
    return text.encode("utf-8")


def load_private_key(path):
    try:
        with open(path, "rb") as f:
            pem = f.read()
    except OSError as e:
        raise PublishError("cannot read the private key %s: %s" % (path, e))
    password = passphrase() if b"ENCRYPTED" in pem else None
    try:
        key = serialization.load_pem_private_key(pem, password=password)
    except (ValueError, TypeError) as e:
        raise PublishError("cannot read the private key %s (wrong passphrase?): %s" % (path, e))
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise PublishError("%s is not an ECDSA P-256 private key" % path)
    return key


def write_new_key(path, encrypted=True):
    """Writes a new private key to |path| (never over an existing file),
    encrypted with the maker's passphrase unless |encrypted| is false (the
    build's own test and development keys), and returns it."""
    encryption = serialization.BestAvailableEncryption(passphrase(confirm=True)) if encrypted \
        else serialization.NoEncryption()
    key = ec.generate_private_key(ec.SECP256R1())
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, encryption)
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        raise PublishError("%s exists; a key file is never overwritten" % path)
    except OSError as e:
        raise PublishError("cannot create %s: %s" % (path, e))
    with os.fdopen(fd, "wb") as f:
        f.write(pem)
    return key


def keys_record(current, backups):
    """The text a launcher carries its keys in (cmake/MakerSettings.cmake)."""
    return KEYS_RECORD_MARK + ("" if not current else " current=" + current) + \
        "".join(" backup=" + b for b in backups)


def write_key_source(path, current, backups=()):
    """The C++ definition of the launcher's update keys, for test builds that
    carry keys made at build time."""
    text = ("// Generated by tools/publish/orlix_publish.py: the update keys of this build.\n"
            "#include \"update/UpdatePublicKey.h\"\n\n"
            "namespace update {\n\n"
            "const wchar_t* UpdateKeysText() { return L\"%s\"; }\n\n"
            "}  // namespace update\n" % keys_record(current, backups))
    with open(path, "w", encoding="ascii") as f:
        f.write(text)


def launcher_keys(data):
    """(current, [backups]) of the keys record in a launcher's bytes; None
    when it carries no record at all (a launcher older than key records)."""
    mark = KEYS_RECORD_MARK.encode("utf-16-le")
    at = data.find(mark)
    if at < 0:
        return None
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    words = data[at:end].decode("utf-16-le", "replace").split()[1:]
    current, backups = None, []
    for word in words:
        name, _, value = word.partition("=")
        if name == "current":
            current = value
        elif name == "backup":
            backups.append(value)
    return current, backups


# ---- the launcher file ------------------------------------------------------
def launcher_version(path):
    """The file version "a.b.c.d" of the launcher's version resource. The
    numeric FILEVERSION and the "FileVersion" string must agree, so that no
    reader of either can see another version."""
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (OSError, pefile.PEFormatError) as e:
        raise PublishError("%s is not a Windows program: %s" % (path, e))
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        raise PublishError("%s has no version resource" % path)
    ms, ls = fixed[0].FileVersionMS, fixed[0].FileVersionLS
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    for info in getattr(pe, "FileInfo", None) or []:
        for block in info:
            for table in getattr(block, "StringTable", []) or []:
                text = table.entries.get(b"FileVersion")
                if text is not None and text.decode("utf-8", "replace").strip() != version:
                    raise PublishError("%s: FileVersion string %r differs from FILEVERSION %s"
                                       % (path, text.decode("utf-8", "replace"), version))
    pe.close()
    return version


def version_key(md5_hex, version):
    dotless = version.replace(".", "")
    if not dotless or len(dotless) >= KEY_LENGTH:
        raise PublishError("version %s leaves no room for a digest in the key" % version)
    return md5_hex[:KEY_LENGTH - len(dotless)] + dotless


# ---- the configuration --------------------------------------------------------
def release_setting(name):
    """A setting of the release build tree's cache (build/i686), if configured."""
    cache = os.path.join(ROOT, "build", "i686", "CMakeCache.txt")
    try:
        with open(cache, encoding="utf-8") as f:
            for line in f:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip() or None
    except OSError:
        pass
    return None


def release_server_host():
    """LAUNCHER_SERVER_HOST of the release build tree, if it has been configured."""
    return release_setting("LAUNCHER_SERVER_HOST")


def download_url_and_name(url, version):
    """The launcher's download URL and its file name. |url| either names the
    file or is a folder ending in "/", to which the default name is added."""
    default_name = "%s_Launcher_%s.exe" % (PRODUCT_CODE, version)
    if url is None:
        host = release_server_host()
        if not host:
            raise PublishError("give --url: build/i686 has no LAUNCHER_SERVER_HOST to default to")
        url = "http://%s/update/" % host
    if not url.lower().startswith("http://"):
        raise PublishError("--url must be a plain http:// URL (the launcher speaks only HTTP): %s" % url)
    if any(ord(c) <= 0x20 or ord(c) >= 0x7F for c in url):
        raise PublishError("--url must be printable ASCII without blanks: %r" % url)
    if url.endswith("/"):
        url += default_name
    name = url.rsplit("/", 1)[1].split("?", 1)[0]
    if "/" not in url[len("http://"):] or not DOWNLOAD_NAME_PATTERN.match(name):
        raise PublishError("--url must end in a file name of letters, digits, '.', '_' or '-': %s" % url)
    if len(url) > URL_MAX_CHARS:
        raise PublishError("--url is longer than %d characters" % URL_MAX_CHARS)
    return url, name


def utc_text(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def config_text(values):
    """The configuration's bytes from (name, value) pairs in their order."""
    lines = ["[%s]" % SECTION] + ["%s=%s" % pair for pair in values]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def read_config(path):
    """The (name, value) pairs of a configuration this tool wrote, or None."""
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("ascii").split("\r\n")
    except (OSError, UnicodeDecodeError):
        return None
    if not lines or lines[0] != "[%s]" % SECTION:
        return None
    return [tuple(line.split("=", 1)) for line in lines[1:] if "=" in line]


# ---- patches ------------------------------------------------------------------
MAX_PATCHES = 4  # what launchers read
MAKEPATCH = os.path.join(ROOT, "build", "native", "tools", "orlix_makepatch")


def patch_values(patches):
    """The configuration's (name, value) pairs naming |patches|."""
    values = []
    for number, patch in enumerate(patches, 1):
        values += [("Patch%dBase" % number, patch["base"]), ("Patch%dSize" % number, str(patch["size"])),
                   ("Patch%dAddr" % number, patch["url"])]
    return values


def read_patch_values(config):
    """The patches a configuration this tool wrote names (a dict of its
    values), as publish takes them to keep them when re-signing."""
    patches = []
    for number in range(1, MAX_PATCHES + 1):
        base, size, url = (config.get("Patch%d%s" % (number, part)) for part in ("Base", "Size", "Addr"))
        if not (base and size and size.isdigit() and url):
            break
        patches.append({"base": base, "size": int(size), "url": url, "name": url.rsplit("/", 1)[-1]})
    return patches


def make_patches(previous, data, url, name, work_dir):
    """A patch from each launcher of |previous| to |data| (the new launcher,
    published as |url|): list of dicts base, size, url, name, bytes. Each
    patch is applied again by the launcher's own applier and must give
    |data| exactly."""
    import subprocess
    if len(previous) > MAX_PATCHES:
        raise PublishError("at most %d --previous launchers" % MAX_PATCHES)
    if not os.access(MAKEPATCH, os.X_OK):
        raise PublishError("%s is missing: ./dev build makes it" % MAKEPATCH)
    patches = []
    new_path = os.path.join(work_dir, "new.exe")
    with open(new_path, "wb") as f:
        f.write(data)
    for old in previous:
        try:
            with open(old, "rb") as f:
                old_data = f.read()
        except OSError as e:
            raise PublishError("cannot read %s: %s" % (old, e))
        base = hashlib.sha256(old_data).hexdigest()
        if old_data == data:
            raise PublishError("--previous %s is the launcher being published" % old)
        if any(p["base"] == base for p in patches):
            raise PublishError("--previous %s is given twice" % old)
        patch_name = "%s_from_%s.patch" % (name.rsplit(".", 1)[0], base[:12])
        patch_path = os.path.join(work_dir, patch_name)
        check_path = os.path.join(work_dir, "check.exe")
        for args in (["diff", old, new_path, patch_path], ["apply", old, patch_path, check_path]):
            r = subprocess.run([MAKEPATCH] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            if r.returncode != 0:
                raise PublishError("orlix_makepatch %s failed: %s" % (args[0], r.stderr.strip()))
        with open(check_path, "rb") as f:
            if f.read() != data:
                raise PublishError("the patch from %s does not make the new launcher" % old)
        with open(patch_path, "rb") as f:
            patch_data = f.read()
        patch_url = url.rsplit("/", 1)[0] + "/" + patch_name
        if len(patch_url) > URL_MAX_CHARS:
            raise PublishError("the patch URL is longer than %d characters" % URL_MAX_CHARS)
        patches.append({"base": base, "size": len(patch_data), "url": patch_url, "name": patch_name,
                        "bytes": patch_data})
    return patches


def sign(private_key, data):
    return private_key.sign(data, ec.ECDSA(hashes.SHA256()))


def write_file(path, data):
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def parse_version(text):
    return [int(part) for part in text.split(".")]


def check_version_step(previous, version, allow_jump):
    """Refuses a version below the one published before, and a jump no
    release makes (a slip of the finger: 3.0.1.6 -> 3.0.1.60)."""
    if previous is None:
        return
    old, new = parse_version(previous), parse_version(version)
    if new < old:
        raise PublishError("version %s is lower than %s, published before in this folder" % (version, previous))
    for a, b in zip(old, new):
        if a != b:
            if b - a > MAX_VERSION_STEP and not allow_jump:
                raise PublishError("version %s after %s is an implausible jump (more than %d in one part); "
                                   "give --allow-version-jump if it is meant" % (version, previous, MAX_VERSION_STEP))
            break


def check_launcher_keys(data, signing_public, new_current, first_keyed):
    """The launcher must go on taking what this key signs: its current key is
    the signing key, or, in a key roll, the new current key while the signing
    key is one of its backup keys."""
    found = launcher_keys(data)
    current, backups = found if found else (None, [])
    if not current:
        if first_keyed:
            return
        raise PublishError("the launcher carries no update key: it would take unsigned configurations for ever "
                           "(build it with LAUNCHER_UPDATE_PUBLIC_KEY, or give --first-keyed-release if this "
                           "keyless launcher is meant)")
    if new_current:
        if current != new_current:
            raise PublishError("the launcher's current key is %s..., not the new current key %s..."
                               % (current[:16], new_current[:16]))
        if signing_public not in backups:
            raise PublishError("a key roll is signed with one of the launcher's backup keys; %s... is not one"
                               % signing_public[:16])
        return
    if current != signing_public:
        raise PublishError("the launcher's update key is %s..., not the signing key %s...: launchers updated to it "
                           "would refuse every later configuration" % (current[:16], signing_public[:16]))


def key_text_argument(text):
    text = (text or "").strip().lower()
    if not KEY_TEXT_PATTERN.match(text):
        raise PublishError("a key is the 130-character text keygen prints (04...): %r" % text[:20])
    return text


def publish(launcher, key_file, out_dir, url=None, expires_days=DEFAULT_EXPIRY_DAYS, now=None, channel=None,
            new_current=None, retire=(), first_keyed=False, allow_jump=False, private_key=None,
            previous_launchers=(), kept_patches=()):
    """Writes the three files of a release into |out_dir|; returns a dict of
    what was published."""
    if not 0 < expires_days <= MAX_EXPIRY_DAYS:
        raise PublishError("--expires must be 1 to %d days (re-sign before it runs out)" % MAX_EXPIRY_DAYS)
    channel = channel or release_setting("LAUNCHER_UPDATE_CHANNEL") or DEFAULT_CHANNEL
    if not CHANNEL_PATTERN.match(channel):
        raise PublishError("the channel is letters, digits and '-': %r" % channel)
    new_current = key_text_argument(new_current) if new_current else None
    retire = [key_text_argument(k) for k in retire]
    if retire and not new_current:
        raise PublishError("--retire-key goes with --new-current-key (a key roll)")
    if new_current in retire:
        raise PublishError("the new current key cannot be retired at once")
    private_key = private_key or load_private_key(key_file)
    signing_public = public_key_text(private_key.public_key())
    if signing_public in retire:
        raise PublishError("the signing key cannot retire itself")
    try:
        with open(launcher, "rb") as f:
            data = f.read()
    except OSError as e:
        raise PublishError("cannot read %s: %s" % (launcher, e))
    version = launcher_version(launcher)
    check_launcher_keys(data, signing_public, new_current, first_keyed)
    previous = dict(read_config(os.path.join(out_dir, CONFIG_NAME)) or [])
    check_version_step(previous.get("Version"), version, allow_jump)
    key = version_key(hashlib.md5(data).hexdigest(), version)
    sha256_hex = hashlib.sha256(data).hexdigest()
    url, name = download_url_and_name(url, version)
    now = now or datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    expires = now + datetime.timedelta(days=expires_days)
    # The publication number: the signing time in seconds, and always above
    # the one published before in this folder.
    serial = int(now.timestamp())
    if previous.get("Serial", "").isdigit():
        serial = max(serial, int(previous["Serial"]) + 1)
    values = [(PRODUCT_CODE, key), ("UpdAddr", url), ("Version", version), ("Sha256", sha256_hex),
              ("Expires", utc_text(expires)), ("Serial", str(serial)), ("Product", PRODUCT_CODE),
              ("Channel", channel), ("Size", str(len(data)))]
    if new_current:
        values.append(("CurrentKey", new_current))
        if retire:
            values.append(("RetireKeys", ",".join(retire)))
    if previous_launchers:
        import tempfile
        with tempfile.TemporaryDirectory(prefix="orlix_patch_") as work_dir:
            patches = make_patches(previous_launchers, data, url, name, work_dir)
    else:
        patches = list(kept_patches)
    values += patch_values(patches)
    config = config_text(values)
    signature = sign(private_key, config)
    # Checked here too: what leaves this tool verifies with the printed key.
    try:
        private_key.public_key().verify(signature, config, ec.ECDSA(hashes.SHA256()))
    except InvalidSignature:
        raise PublishError("the signature just made does not verify")

    os.makedirs(out_dir, exist_ok=True)
    # The launcher first: a server that gets the files in this order never
    # offers a configuration whose download is not there yet.
    write_file(os.path.join(out_dir, name), data)
    for patch in patches:
        if "bytes" in patch:  # a re-signed release keeps the patches it has
            write_file(os.path.join(out_dir, patch["name"]), patch["bytes"])
    write_file(os.path.join(out_dir, CONFIG_NAME), config)
    write_file(os.path.join(out_dir, SIGNATURE_NAME), signature)
    return {"version": version, "key": key, "sha256": sha256_hex, "url": url, "download": name,
            "expires": utc_text(expires), "public_key": signing_public, "serial": serial, "channel": channel,
            "size": len(data), "config": config.decode("ascii"),
            "patches": [{k: p[k] for k in ("base", "size", "url", "name")} for p in patches]}


def resign(out_dir, key_file, expires_days=DEFAULT_EXPIRY_DAYS, now=None):
    """Publishes the release in |out_dir| again, unchanged but for a new
    publication number and expiry."""
    values = read_config(os.path.join(out_dir, CONFIG_NAME))
    if not values:
        raise PublishError("%s holds no configuration this tool wrote" % out_dir)
    previous = dict(values)
    url = previous.get("UpdAddr", "")
    launcher = os.path.join(out_dir, url.rsplit("/", 1)[-1].split("?", 1)[0])
    retire = [k for k in previous.get("RetireKeys", "").split(",") if k]
    done = publish(launcher, key_file, out_dir, url, expires_days, now=now, channel=previous.get("Channel"),
                   new_current=previous.get("CurrentKey"), retire=retire, first_keyed=True,
                   kept_patches=read_patch_values(previous))
    if done["sha256"] != previous.get("Sha256"):
        raise PublishError("the launcher in %s is not the one its configuration named" % out_dir)
    return done


# ---- symbols (tools/publish/release_symbols.py) ---------------------------------
def default_symbol_store(out_dir):
    return os.path.join(os.path.dirname(os.path.abspath(out_dir)), "symbols")


def publish_symbols(launcher, store):
    """Keeps the release's symbols for the crash tools; a launcher without
    them is published all the same, with a warning."""
    import release_symbols
    try:
        print("  symbols    %s" % release_symbols.copy_release_symbols(launcher, store))
    except release_symbols.dump_pe_syms.SymbolError as e:
        print("orlix_publish: warning: crashes of this release cannot be read: %s" % e, file=sys.stderr)


# ---- command line -------------------------------------------------------------
def print_published(done, out_dir):
    print("published %s %s into %s, signed with %s..." % (PRODUCT_CODE, done["version"], out_dir,
                                                       done["public_key"][:16]))
    print("  files      %s, %s, %s" % (done["download"], CONFIG_NAME, SIGNATURE_NAME))
    for patch in done["patches"]:
        print("  patch      %s (%d bytes, from %s)" % (patch["name"], patch["size"], patch["base"]))
    print("  signed:")
    for line in done["config"].splitlines():
        print("    " + line)
    # Launchers read the configuration, then its signature: with the
    # signature uploaded first, none reads a new configuration with the old
    # signature (an old one with the new signature is refused for that one
    # start and logged).
    print("upload in this order, each file whole (a temporary name, then renamed, as rsync does):")
    print("  1. %s%s, to answer at %s" % (done["download"], " and the patches" if done["patches"] else "",
                                         done["url"]))
    print("  2. %s to /update/ on the server host" % SIGNATURE_NAME)
    print("  3. %s to /update/ on the server host" % CONFIG_NAME)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="orlix_publish", description="Key pairs and signed launcher updates.")
    commands = parser.add_subparsers(dest="command", required=True)
    keygen = commands.add_parser("keygen", help="make an ECDSA P-256 key pair")
    keygen.add_argument("file", help="where the private key goes (never overwritten)")
    # The build's own test and development keys: no passphrase, replaced at will.
    keygen.add_argument("--no-passphrase", action="store_true", help=argparse.SUPPRESS)
    keygen.add_argument("--replace", action="store_true", help=argparse.SUPPRESS)
    pubkey = commands.add_parser("pubkey", help="print the public key of a private key file")
    pubkey.add_argument("file")
    source = commands.add_parser("keysource", help=argparse.SUPPRESS)  # the test builds' key definitions
    source.add_argument("out")
    source.add_argument("--current", required=True)
    source.add_argument("--backup", action="append", default=[])
    pub = commands.add_parser("publish", help="sign and lay out a launcher update")
    pub.add_argument("launcher", help="the new Tavrel_Launcher.exe")
    pub.add_argument("--key", required=True, help="the private key file made by keygen")
    pub.add_argument("--out", required=True, help="folder to write the release into")
    pub.add_argument("--url", help="download URL of the launcher, or its folder ending in '/' "
                                   "(default: http://SERVER_HOST/update/ of the release build)")
    pub.add_argument("--symbols", metavar="DIR",
                     help="the maker's symbol store for releases (default: symbols/ beside the --out folder); "
                          "keep it, never publish it")
    pub.add_argument("--expires", type=int, default=DEFAULT_EXPIRY_DAYS, metavar="DAYS",
                     help="days until launchers stop acting on this configuration (default %d, at most %d)"
                          % (DEFAULT_EXPIRY_DAYS, MAX_EXPIRY_DAYS))
    pub.add_argument("--channel", help="the launchers' channel (default: the release build's, else %s)"
                                       % DEFAULT_CHANNEL)
    pub.add_argument("--new-current-key", metavar="KEY",
                     help="key roll, signed with a backup key: the launchers' new current key")
    pub.add_argument("--retire-key", metavar="KEY", action="append", default=[],
                     help="key roll: a key the launchers stop trusting (repeatable)")
    pub.add_argument("--first-keyed-release", action="store_true",
                     help="publish a launcher that carries no update key (it takes unsigned configurations)")
    pub.add_argument("--allow-version-jump", action="store_true",
                     help="publish a version far above the one published before")
    res = commands.add_parser("resign", help="sign the release in a folder again (scheduled job)")
    res.add_argument("out", help="the folder publish wrote")
    res.add_argument("--key", required=True)
    res.add_argument("--expires", type=int, default=DEFAULT_EXPIRY_DAYS, metavar="DAYS")
    pub.add_argument("--previous", action="append", default=[], metavar="OLD.exe",
                     help="a previous launcher to write a patch from (may be given up to %d times)" % MAX_PATCHES)
    args = parser.parse_args(argv)

    try:
        if args.command == "keygen":
            if args.replace and os.path.exists(args.file):
                os.remove(args.file)
            key = write_new_key(args.file, encrypted=not args.no_passphrase)
            print("private key: %s (keep it; never publish it)" % args.file)
            print("LAUNCHER_UPDATE_PUBLIC_KEY=%s" % public_key_text(key.public_key()))
        elif args.command == "pubkey":
            print(public_key_text(load_private_key(args.file).public_key()))
        elif args.command == "keysource":
            write_key_source(args.out, public_key_text(load_private_key(args.current).public_key()),
                             [public_key_text(load_private_key(b).public_key()) for b in args.backup])
        elif args.command == "resign":
            print_published(resign(args.out, args.key, args.expires), args.out)
        else:
            done = publish(args.launcher, args.key, args.out, args.url, args.expires, channel=args.channel,
                           new_current=args.new_current_key, retire=args.retire_key,
                           first_keyed=args.first_keyed_release, allow_jump=args.allow_version_jump,
                           previous_launchers=args.previous)
            print_published(done, args.out)
            publish_symbols(args.launcher, args.symbols or default_symbol_store(args.out))
    except PublishError as e:
        print("orlix_publish: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

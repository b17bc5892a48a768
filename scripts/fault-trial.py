#!/usr/bin/env python3
"""Helpers of scripts/fault-trial.sh (standard library only).

  content FILES OUT N SAMPLE   makes playbill variant N in OUT/vN: new media,
                               each named by the MD5 of its content, into the
                               served folder FILES, and a day schedule naming
                               them (template lists and zones copied from SAMPLE)
  send PREFIX LOG              sends plays PREFIX-NNNNNN.jpg to the service's
                               local port, one after the other, each until the
                               service takes it, like the player's sender; every
                               attempt is one line of LOG: "A name" accepted,
                               "R name code" refused for now, "N name" no answer.
                               Ends on SIGTERM.
  inject DATA PREFIX FIRST N   appends N plays to the player's play log
                               (DATA/data/storageMsg.txt), in one write
  check DATA CONTROL_PORT SENDLOG LINES INJECTED [--wait S] [--final] [--journal]
                               checks the invariants of one home (below), prints
                               one "BROKEN ..." line per broken invariant and a
                               last line of figures; exit 1 when one broke

The invariants:
  * every file under its final name in data/mtl (no ".tmp", no ".md5"
    companion) holds content whose lower-case MD5 its name contains;
  * data/day-play.xml, data/status.json, data/poweronoff.xml and the template
    lists and zones the playbill names parse, as far as they are present;
  * every play the first LINES lines of SENDLOG record as accepted is stored
    exactly once: in play_detail or play_stat of data/playdata.db or among the
    rows the simulator accepted (waiting up to S seconds for plays still on
    their way from the journal into the database); no trial play is stored
    twice; with --final, also every play injected into the player's log (the
    player's sender delivers them) is stored exactly once; with --journal (a
    full disk), a play still in data/playdata.journal counts as kept.
"""
import hashlib
import json
import os
import random
import re
import shutil
import signal
import socket
import sqlite3
import sys
import time
import urllib.parse
import xml.etree.ElementTree as ET

SERVICE_PORT = 12222
SECRET_KEY = "mystic_rb_vendor"  # common/version.h
MD5_IN_NAME = re.compile(r"[0-9a-f]{32}")


# --- content ---------------------------------------------------------------

def make_content(files, out, n, sample):
    """Variant n: a main zone of fresh pictures (a sample picture with random
    bytes after its end, which viewers ignore), so every switch has new
    downloads."""
    rnd = random.Random(n)
    base = os.path.join(sample, "files", "23334ecca5f829b458901c8d07402d12.jpg")
    with open(base, "rb") as f:
        picture = f.read()
    names = []
    for _ in range(4):
        body = picture + os.urandom(rnd.randint(100, 700) * 1024)
        name = hashlib.md5(body).hexdigest() + ".jpg"
        with open(os.path.join(files, name), "wb") as f:
            f.write(body)
        names.append(name)
    variant = os.path.join(out, "v%d" % n)
    shutil.rmtree(variant, ignore_errors=True)
    shutil.copytree(os.path.join(sample, "tpl"), os.path.join(variant, "tpl"))
    shutil.copytree(os.path.join(sample, "zone"), os.path.join(variant, "zone"))
    zone = "zt%d.z" % n
    entries = "".join(
        ' <P name="%s" path="data/mtl" type="pic" len="4" ttimes="0" etimes="1" ttype="%d"/>\n'
        % (name, 1 + i) for i, name in enumerate(names))
    with open(os.path.join(variant, "zone", zone), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="GBK"?>\n<PL name="main">\n%s</PL>\n' % entries)
    with open(os.path.join(sample, "day-play.xml"), encoding="utf-8") as f:
        day = f.read().replace('p="z1001.z"', 'p="%s"' % zone)
    with open(os.path.join(variant, "day-play.xml"), "w", encoding="utf-8") as f:
        f.write(day)
    print(variant)


# --- plays -----------------------------------------------------------------

def statement(name, when):
    return ("INSERT INTO play_detail(name, play_time, play_type, times, duration, mtl_type) "
            "VALUES('%s', '%s', 0, 1, 10, 'pic')" % (name, when))


def play_time(i):
    """Half of the plays are of yesterday, so the service adds them up per
    hour and uploads them; the other half stay detail rows of today."""
    day = time.time() - (86400 if i % 2 == 0 else 0)
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(day - 3600))


def notify(sql, timeout=5.0):
    """The service's answer to one statement: (status, body); None without one."""
    stamp = str(int(time.time() * 1000))
    query = "cmd=SQL&param=%s&timestamp=%s&signature=%s" % (
        urllib.parse.quote(sql, safe=""), stamp,
        hashlib.md5((SECRET_KEY + stamp).encode()).hexdigest())
    request = ("POST /notify?%s HTTP/1.1\r\nHost: localhost:%d\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n" % (query, SERVICE_PORT)).encode()
    try:
        with socket.create_connection(("127.0.0.1", SERVICE_PORT), timeout=timeout) as s:
            s.sendall(request)
            reply = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
    except OSError:
        return None
    head, _, body = reply.partition(b"\r\n\r\n")
    parts = head.split(b"\r\n", 1)[0].split(b" ", 2)
    if len(parts) < 2 or not parts[1].isdigit():
        return None
    return int(parts[1]), body.decode("utf-8", "replace")


def accepted(answer):
    """NotifyProtocol::isAccepted: status 200 and {"code":0}."""
    if answer is None or answer[0] != 200:
        return False
    try:
        return json.loads(answer[1]).get("code") == 0
    except ValueError:
        return False


def send(prefix, log):
    running = [True]
    signal.signal(signal.SIGTERM, lambda *_: running.__setitem__(0, False))
    i = 0
    with open(log, "a", buffering=1) as out:
        while running[0]:
            i += 1
            name = "%s-%06d.jpg" % (prefix, i)
            sql = statement(name, play_time(i))
            while running[0]:
                answer = notify(sql)
                if accepted(answer):
                    out.write("A %s\n" % name)
                    break
                if answer is None:
                    out.write("N %s\n" % name)
                else:
                    try:
                        code = json.loads(answer[1]).get("code")
                    except ValueError:
                        code = answer[0]
                    out.write("R %s %s\n" % (name, code))
                time.sleep(0.2)
            time.sleep(0.02)


def inject(data, prefix, first, count):
    lines = "".join("SQL|%s\r\n" % statement("%s-%06d.jpg" % (prefix, i), play_time(i))
                    for i in range(first, first + count))
    fd = os.open(os.path.join(data, "data", "storageMsg.txt"),
                 os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    try:
        os.write(fd, lines.encode())
    finally:
        os.close(fd)


# --- checks ----------------------------------------------------------------

def control(port, command):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall((command + "\n").encode())
        data = b""
        while not re.search(rb"(^|\n)(ok|error:)[^\n]*\n", data):
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return data.decode("utf-8", "replace").splitlines()


def parse_xml(path):
    """The root element, or raises. Zones declare GBK but are kept in UTF-8."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    return ET.fromstring(re.sub(r"^\s*<\?xml[^>]*\?>", "", text))


def check_documents(data, broken):
    """Parses the documents; returns the media names the playbill names."""
    named = set()
    folder = os.path.join(data, "data")
    for doc in ("day-play.xml", "poweronoff.xml"):
        path = os.path.join(folder, doc)
        if os.path.exists(path):
            try:
                parse_xml(path)
            except (ET.ParseError, UnicodeDecodeError) as e:
                broken.append("%s does not parse: %s" % (doc, e))
    path = os.path.join(folder, "status.json")
    if os.path.exists(path):
        try:
            with open(path, encoding="utf-8") as f:
                json.load(f)
        except ValueError as e:
            broken.append("status.json does not parse: %s" % e)
    try:
        day = parse_xml(os.path.join(folder, "day-play.xml"))
    except (OSError, ET.ParseError, UnicodeDecodeError):
        return named
    for entry in day:
        lists = [("tpl", entry.get("p", ""))] + [("zone", z.get("p", "")) for z in entry.iter("Z")]
        for kind, ident in lists:
            path = os.path.join(folder, kind, ident)
            if not ident or not os.path.exists(path):
                continue
            try:
                root = parse_xml(path)
            except (ET.ParseError, UnicodeDecodeError) as e:
                broken.append("%s/%s does not parse: %s" % (kind, ident, e))
                continue
            for item in root:
                name, where = item.get("name", ""), item.get("path", "")
                if where == "data/mtl":
                    named.add(name)
                elif where.startswith("data/mtl/"):
                    named.add(os.path.basename(where))  # named by its path
    return named


def check_media(data, named, broken):
    """Hashes every file under its final name; returns (files, named ones)."""
    mtl = os.path.join(data, "data", "mtl")
    files = hits = 0
    for name in sorted(os.listdir(mtl)) if os.path.isdir(mtl) else []:
        if name.endswith((".tmp", ".md5")) or not MD5_IN_NAME.search(name.lower()):
            continue
        try:
            with open(os.path.join(mtl, name), "rb") as f:
                digest = hashlib.md5(f.read()).hexdigest()
        except OSError:
            continue  # removed by the cleanup meanwhile
        files += 1
        hits += name in named
        if digest not in name.lower():
            broken.append("data/mtl/%s holds content with MD5 %s (%d bytes)%s" % (
                name, digest, os.path.getsize(os.path.join(mtl, name)),
                ", named by the playbill" if name in named else ""))
    return files, hits


def stored_counts(data, port, prefixes):
    """Play name -> [detail rows, stat plays, uploaded plays], for the plays of
    this home (names starting with one of the prefixes)."""
    counts = {}
    db = os.path.join(data, "data", "playdata.db")
    if os.path.exists(db):
        con = sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=10)
        try:
            for name, n in con.execute(
                    "SELECT name, COUNT(*) FROM play_detail WHERE name LIKE 'ftrial-%' "
                    "GROUP BY name"):
                counts.setdefault(name, [0, 0, 0])[0] += n
            for name, n in con.execute(
                    "SELECT name, SUM(times) FROM play_stat WHERE name LIKE 'ftrial-%' "
                    "GROUP BY name"):
                counts.setdefault(name, [0, 0, 0])[1] += n
        finally:
            con.close()
    for line in control(port, "statrows"):
        fields = line.split("\t")
        if fields[0] == "row" and len(fields) == 6 and fields[1].startswith(prefixes):
            counts.setdefault(fields[1], [0, 0, 0])[2] += int(fields[4])
    return {n: c for n, c in counts.items() if n.startswith(prefixes)}


def check(data, port, sendlog, lines, injected, wait, final, journal):
    broken = []
    named = check_documents(data, broken)
    files, hits = check_media(data, named, broken)

    answered, refused, unanswered = [], 0, set()
    if os.path.exists(sendlog):
        with open(sendlog) as f:
            for number, line in enumerate(f):
                if number >= lines:
                    break
                fields = line.split()
                if fields[0] == "A":
                    answered.append(fields[1])
                elif fields[0] == "R":
                    refused += 1
                else:
                    unanswered.add(fields[1])
    wanted = set(answered)
    # This home's plays: the sender's, and those put into the player's log.
    prefixes = tuple({n.rsplit("-", 1)[0] + "-" for n in answered[:1]}) + (
        ("ftrial-p-",) if injected else ())
    if final:
        wanted |= {"ftrial-p-%06d.jpg" % i for i in range(1, injected + 1)}
    kept = set()
    if journal:
        # A full disk: the database cannot take them, the journal keeps them.
        try:
            with open(os.path.join(data, "data", "playdata.journal"), encoding="utf-8",
                      errors="replace") as f:
                kept = set(re.findall(r"VALUES\('(ftrial-[^']+)'", f.read()))
        except OSError:
            pass
    deadline = time.time() + wait
    while True:
        try:
            counts = stored_counts(data, port, prefixes)
        except sqlite3.Error as e:
            counts, error = None, str(e)
        if counts is not None:
            missing = sorted(n for n in wanted if sum(counts.get(n, [0])) == 0 and n not in kept)
            if not missing:
                break
        if time.time() >= deadline:
            break
        time.sleep(1)
    if counts is None:
        broken.append("playdata.db cannot be read: %s" % error)
        counts, missing = {}, []
    doubles = sorted(n for n, c in counts.items() if sum(c) > 1)
    for name in missing[:20]:
        broken.append("play %s was accepted but is not stored" % name)
    if len(missing) > 20:
        broken.append("... %d accepted plays not stored in all" % len(missing))
    for name in doubles[:20]:
        c = counts[name]
        broken.append("play %s stored %d times (detail %d, hourly %d, uploaded %d)%s" % (
            name, sum(c), c[0], c[1], c[2],
            "; one attempt went unanswered" if name in unanswered else ""))
    if len(doubles) > 20:
        broken.append("... %d plays stored more than once in all" % len(doubles))
    for line in broken:
        print("BROKEN " + line)
    uploaded = sum(1 for c in counts.values() if c[2])
    player = sum(1 for n in counts if n.startswith("ftrial-p-"))
    print("files=%d named=%d answered=%d refused=%d unanswered=%d stored=%d uploaded=%d "
          "player=%d missing=%d doubles=%d broken=%d" % (
              files, hits, len(answered), refused, len(unanswered), len(counts), uploaded,
              player, len(missing), len(doubles), len(broken)))
    return 1 if broken else 0


def main(argv):
    cmd = argv[1] if len(argv) > 1 else ""
    if cmd == "content" and len(argv) == 6:
        make_content(argv[2], argv[3], int(argv[4]), argv[5])
    elif cmd == "send" and len(argv) == 4:
        send(argv[2], argv[3])
    elif cmd == "inject" and len(argv) == 6:
        inject(argv[2], argv[3], int(argv[4]), int(argv[5]))
    elif cmd == "check" and len(argv) >= 7:
        wait = float(argv[argv.index("--wait") + 1]) if "--wait" in argv else 0
        return check(argv[2], int(argv[3]), argv[4], int(argv[5]), int(argv[6]), wait,
                     "--final" in argv, "--journal" in argv)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

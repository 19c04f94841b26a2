#!/usr/bin/env python3
"""A small cddb.cgi server on 127.0.0.1 for the tests.

The first path element picks the behaviour: /<mode>/~cddb/cddb.cgi?cmd=...
  ok          200 on query, the entry on read (Chinese titles)
  multi210    210 list of two matches (categories rock and jazz), read gives each its titles
  multi211    the same with 211 (inexact matches)
  notfound    202 no match
  rich        200; the entry has year, genre, a title over two lines and an escape sequence
  auth        401 until the request carries user "tralux", password "secret"; then as ok
  redirect1   302 to /ok/... (a Content-Location header comes first and must be ignored)
  redirect2   302 to /redirect1/... (a second redirect: the client must not follow it)
  moved301, moved303   301 or 303 to /ok/...
  to<port>    302 to /ok/... on another server of 127.0.0.1 (e.g. /to40001/...)
  nolocation  302 without Location
  ftpredirect 302 to an ftp:// URL
  missing     404 with a body
  garbage     200 with a body that is no CDDB reply
  slow        200, the status line, then a byte every 0.2 s for 30 s
  stall       200, the status line, then nothing for 30 s
  error500, error503   that status with an HTML page
  big         200 with a 2 MiB body
  dash        as ok, but the disc is "-v / --x" (a performer that reads as an option)
  cut         as ok, but the entry stops after its second title (no closing ".")
Requests without "User-Agent: QX_TRALUX" get 403. Every request is appended to --log as one
line "<path>?<query>". The port is printed as "PORT <n>" on standard output; the server stops
when standard input closes.
"""
import argparse
import base64
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TITLES = ["春天的歌", "夏夜/晚風", "..秋意", "冬雪", "回家"]
track_counts = {}
log_lock = threading.Lock()


def entry(category, discid, count):
    lines = ["210 %s %s CD database entry follows (until terminating `.')" % (category, discid),
             "# xmcd", "#", "DISCID=%s" % discid]
    if category == "jazz":
        lines.append("DTITLE=爵士樂手 / 夜曲集")
        names = ["夜曲%d" % (i + 1) for i in range(count)]
    else:
        lines.append("DTITLE=測試歌手 / 測試專輯")
        names = ["第%d首 %s" % (i + 1, TITLES[i % len(TITLES)]) for i in range(count)]
    if category == "folk":
        lines[-1:] = ["DTITLE=林小雨 / 春天", "DTITLE=的專輯", "DYEAR=2026", "DGENRE=Folk"]
        names = ["\x1b]0;pwned\x07第%d首" % (i + 1) for i in range(count)]
    lines.append("EXTD=版權所有 2026")
    for i, name in enumerate(names):
        lines.append("TTITLE%d=%s" % (i, name))
        lines.append("EXTT%d=" % i)
    lines += ["PLAYORDER=", "."]
    return "\r\n".join(lines) + "\r\n"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Type", "text/plain; charset=UTF-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        parsed = urllib.parse.urlsplit(self.path)
        with log_lock:
            if self.server.log:
                with open(self.server.log, "a", encoding="utf-8") as f:
                    f.write(self.path + "\n")
        if self.headers.get("User-Agent") != "QX_TRALUX" or "text/*" not in self.headers.get("Accept", ""):
            return self.reply(403, "403 bad client\r\n")
        mode = parsed.path.strip("/").split("/")[0]
        rest = parsed.path[len(mode) + 1:]
        query = urllib.parse.parse_qs(parsed.query)
        cmd = query.get("cmd", [""])[0].split()
        here = "http://127.0.0.1:%d" % self.server.server_address[1]
        if mode == "auth":
            want = "Basic " + base64.b64encode(b"tralux:secret").decode()
            if self.headers.get("Authorization") != want:
                return self.reply(401, "<html>401 Unauthorized</html>\r\n",
                                  [("WWW-Authenticate", 'Basic realm="cddb"')])
            mode = "ok"
        if mode == "redirect1":
            target = here + "/ok" + rest + "?" + parsed.query
            return self.reply(302, "moved\r\n", [("Content-Location", here + "/garbage/x"), ("location", target)])
        if mode in ("moved301", "moved303"):
            return self.reply(int(mode[-3:]), "moved\r\n", [("Location", here + "/ok" + rest + "?" + parsed.query)])
        if mode.startswith("to") and mode[2:].isdigit():
            there = "http://127.0.0.1:%d" % int(mode[2:])
            return self.reply(302, "moved\r\n", [("Location", there + "/ok" + rest + "?" + parsed.query)])
        if mode in ("error500", "error503"):
            return self.reply(int(mode[-3:]), "<html><body>Server Error</body></html>\r\n")
        if mode == "stall":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            try:
                self.wfile.write(b"200 rock ")
                self.wfile.flush()
                time.sleep(30)
            except OSError:
                pass
            return
        if mode == "redirect2":
            return self.reply(302, "moved\r\n", [("Location", here + "/redirect1" + rest + "?" + parsed.query)])
        if mode == "nolocation":
            return self.reply(302, "moved\r\n")
        if mode == "ftpredirect":
            return self.reply(302, "moved\r\n", [("Location", "ftp://127.0.0.1/x")])
        if mode == "missing":
            return self.reply(404, "404 Not Found\r\n")
        if mode == "garbage":
            return self.reply(200, "<html><body>Hello there</body></html>\r\n")
        if mode == "big":
            return self.reply(200, "200 rock 0 x\r\n" + ("x" * 100 + "\r\n") * 21000)
        if mode == "slow":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            try:
                self.wfile.write(b"200 rock ")
                self.wfile.flush()
                for _ in range(150):
                    time.sleep(0.2)
                    self.wfile.write(b"x")
                    self.wfile.flush()
            except OSError:
                pass
            return
        if len(cmd) >= 3 and cmd[0] == "cddb" and cmd[1] == "query":
            discid = cmd[2]
            try:
                track_counts[discid] = int(cmd[3])
            except (IndexError, ValueError):
                return self.reply(200, "500 Command syntax error\r\n")
            if mode in ("ok", "cut", "dash"):
                return self.reply(200, "200 rock %s 測試歌手 / 測試專輯\r\n" % discid)
            if mode == "rich":
                return self.reply(200, "200 folk %s 林小雨 / 春天的專輯\r\n" % discid)
            if mode in ("multi210", "multi211"):
                code = mode[-3:]
                return self.reply(200, "%s Found matches, list follows (until terminating `.')\r\n"
                                  "rock %s 測試歌手 / 測試專輯\r\n"
                                  "jazz %s 爵士樂手 / 夜曲集\r\n.\r\n" % (code, discid, discid))
            if mode == "notfound":
                return self.reply(200, "202 No match for disc ID %s.\r\n" % discid)
        if len(cmd) >= 4 and cmd[0] == "cddb" and cmd[1] == "read":
            body = entry(cmd[2], cmd[3], track_counts.get(cmd[3], 99))
            if mode == "cut":
                body = body[:body.index("TTITLE2=")]
            if mode == "dash":
                body = body.replace("DTITLE=測試歌手 / 測試專輯", "DTITLE=-v / --x")
            return self.reply(200, body)
        return self.reply(200, "500 Unrecognized command\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", default="")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log = args.log
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()

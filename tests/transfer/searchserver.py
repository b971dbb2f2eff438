"""A search server for the tests: pyftpdlib with the two commands of the search server added,
speaking CP950 on the wire and taking backslashes as path separators.

    searchserver.py PORT ROOT USER PASSWORD

OPENFIND searches ROOT for entry names that contain the key of the first condition and answers
700; RETR FIND then sends the result stream. CHECKEXIST answers 800 for a path that exists and
810 for one that does not.
"""
import datetime
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer

WIRE = "cp950"


class BackslashFS(AbstractedFS):
    def ftp2fs(self, ftppath):
        return super().ftp2fs(ftppath.replace("\\", "/"))

    def format_list(self, basedir, listing, ignore_err=True):
        for line in super().format_list(basedir, listing, ignore_err):
            yield line.decode("utf8").encode(WIRE, "replace")


def stamp(path):
    t = datetime.datetime.fromtimestamp(os.path.getmtime(path))
    return "%d/%d/%d %02d:%02d:%02d" % (t.year, t.month, t.day, t.hour, t.minute, t.second)


def find_stream(root, key):
    headers, lines, files, folders = [], [], 0, 0
    for folder, dirs, names in sorted(os.walk(root)):
        dirs.sort()
        rel = os.path.relpath(folder, root)
        shown = "\\" + ("" if rel == "." else rel.replace("/", "\\"))
        hits = []
        for name in sorted(dirs):
            if key in name:
                hits.append("%s<%s" % (name, stamp(os.path.join(folder, name))))
                folders += 1
        for name in sorted(names):
            if key in name:
                path = os.path.join(folder, name)
                hits.append("%s<%d<%s" % (name, os.path.getsize(path), stamp(path)))
                files += 1
        if hits:
            headers.append("%s<%d" % (shown, len(hits)))
            lines.extend(hits)
    text = ""
    if headers:
        text = "\n".join(headers) + "\n?B" + "\n".join(lines) + "\n"
    text += "?H%d<%d\n?E" % (files, folders)
    return text.encode(WIRE)


class SearchHandler(FTPHandler):
    proto_cmds = dict(proto_cmds)
    proto_cmds["OPENFIND"] = dict(perm=None, auth=True, arg=True, help="OPENFIND <SP> search")
    proto_cmds["CHECKEXIST"] = dict(perm=None, auth=True, arg=True, help="CHECKEXIST <SP> path")
    abstracted_fs = BackslashFS
    stream = None

    def decode(self, data):
        return data.decode(WIRE, self.unicode_errors)

    def push(self, s):
        super(FTPHandler, self).push(s.encode(WIRE, "replace"))

    def ftp_OPENFIND(self, arg):
        key = arg.split(";")[0].split(",")[2]
        self.stream = find_stream(self.fs.root, key)
        self.respond("700 Search done.")

    def ftp_CHECKEXIST(self, arg):
        if os.path.exists(self.fs.ftp2fs(arg)):
            self.respond("800 Ready.")
        else:
            self.respond("810 No such file.")

    def ftp_RETR(self, file):
        if os.path.basename(file) == "FIND" and self.stream is not None:
            data, self.stream = self.stream, None
            self.push_dtp_data(data, cmd="RETR")
            return file
        return super().ftp_RETR(file)


def main():
    port, root, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elr")
    SearchHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", port), SearchHandler)
    server.serve_forever()


if __name__ == "__main__":
    main()

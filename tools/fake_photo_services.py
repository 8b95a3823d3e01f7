#!/usr/bin/env python3
"""Stand-ins for the Flickr and Dropbox services on 127.0.0.1, for trying the sign-in and upload
screens by hand without real accounts. Nothing leaves the machine.

    tools/fake_photo_services.py [--port 8765] [--store DIR]

Then start duoscope with
    DUOSCOPE_FLICKR_API_URL=http://127.0.0.1:8765 DUOSCOPE_FLICKR_UPLOAD_URL=... DUOSCOPE_FLICKR_AUTH_URL=...
    DUOSCOPE_FLICKR_API_KEY=<32 hex> DUOSCOPE_FLICKR_SHARED_SECRET=<16 hex>
    DUOSCOPE_DROPBOX_{API,CONTENT,AUTH}_URL=http://127.0.0.1:8765 DUOSCOPE_DROPBOX_APP_KEY=trykey
(the script prints the lines). The sign-in pages answer at once: Flickr's authorisation page
sends the browser to the application's callback URL, Dropbox's to its loopback redirect. Uploads
are written to the store folder."""
import argparse
import json
import os
import secrets
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlencode, urlparse

FLICKR_KEY = "0123456789abcdef0123456789abcdef"
FLICKR_SECRET = "fedcba9876543210"
DROPBOX_KEY = "trykey"


class Handler(BaseHTTPRequestHandler):
    store = "."
    request_tokens = {}  # request token -> callback URL

    def log_message(self, fmt, *args):
        sys.stderr.write("fake services: " + (fmt % args) + "\n")

    def answer(self, status, body, content_type="text/plain", headers=()):
        data = body if isinstance(body, bytes) else body.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def keep(self, name, data):
        path = os.path.join(self.store, os.path.basename(name) or "upload.bin")
        with open(path, "wb") as out:
            out.write(data)
        self.log_message("stored %d bytes in %s", len(data), path)

    def do_GET(self):
        url = urlparse(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/services/oauth/request_token":
            token = "req-" + secrets.token_hex(4)
            Handler.request_tokens[token] = query.get("oauth_callback", "")
            return self.answer(200, urlencode({"oauth_callback_confirmed": "true", "oauth_token": token,
                                               "oauth_token_secret": secrets.token_hex(8)}))
        if url.path == "/services/oauth/authorize":
            token = query.get("oauth_token", "")
            callback = Handler.request_tokens.get(token)
            if not callback:
                return self.answer(400, "unknown request token")
            target = callback + ("&" if "?" in callback else "?") + urlencode(
                {"oauth_token": token, "oauth_verifier": "verifier-" + secrets.token_hex(4)})
            return self.answer(302, "", headers=[("Location", target)])
        if url.path == "/services/oauth/access_token":
            return self.answer(200, urlencode({"fullname": "Try Out", "oauth_token": "access-1",
                                               "oauth_token_secret": "secret-1", "user_nsid": "1@N00",
                                               "username": "tryout"}))
        if url.path == "/services/rest/" and query.get("method") == "flickr.photosets.getList":
            return self.answer(200, json.dumps({"stat": "ok", "photosets": {"photoset": [
                {"id": "72157", "title": {"_content": "Stereo"}, "description": {"_content": ""}}]}}),
                "application/json")
        if url.path == "/oauth2/authorize":
            target = query.get("redirect_uri", "") + "?" + urlencode(
                {"code": "code-" + secrets.token_hex(4), "state": query.get("state", "")})
            return self.answer(302, "", headers=[("Location", target)])
        self.answer(404, "not here")

    def do_POST(self):
        url = urlparse(self.path)
        data = self.body()
        if url.path == "/services/upload/":
            self.keep("flickr-upload.multipart", data)
            return self.answer(200, '<?xml version="1.0" encoding="utf-8" ?>\n<rsp stat="ok">\n'
                               '<photoid>4242</photoid>\n</rsp>\n', "text/xml")
        if url.path == "/services/rest/":
            return self.answer(200, json.dumps({"stat": "ok"}), "application/json")
        if url.path == "/oauth2/token":
            return self.answer(200, json.dumps({"access_token": "dbx-access", "token_type": "bearer",
                                                "refresh_token": "dbx-refresh", "expires_in": 14400}),
                               "application/json")
        if url.path == "/2/files/upload":
            argument = json.loads(self.headers.get("Dropbox-API-Arg") or "{}")
            name = argument.get("path", "/upload").split("/")[-1]
            self.keep("dropbox-" + name, data)
            return self.answer(200, json.dumps({"name": name, "path_display": "/" + name}),
                               "application/json")
        self.answer(404, "not here")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=8765)
    parser.add_argument("--store", default="fake-services-uploads")
    args = parser.parse_args()
    os.makedirs(args.store, exist_ok=True)
    Handler.store = args.store
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    base = "http://127.0.0.1:%d" % args.port
    print("export " + " ".join("%s=%s" % pair for pair in [
        ("DUOSCOPE_FLICKR_API_URL", base), ("DUOSCOPE_FLICKR_UPLOAD_URL", base),
        ("DUOSCOPE_FLICKR_AUTH_URL", base), ("DUOSCOPE_FLICKR_API_KEY", FLICKR_KEY),
        ("DUOSCOPE_FLICKR_SHARED_SECRET", FLICKR_SECRET), ("DUOSCOPE_DROPBOX_API_URL", base),
        ("DUOSCOPE_DROPBOX_CONTENT_URL", base), ("DUOSCOPE_DROPBOX_AUTH_URL", base),
        ("DUOSCOPE_DROPBOX_APP_KEY", DROPBOX_KEY)]), flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

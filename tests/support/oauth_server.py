#!/usr/bin/python3
"""A local OAuth2 authorization server for tests (Python's standard library).

Listens on 127.0.0.1 only, on a free port, printed as stdout's first line.

  GET  /authorize   approves at once: redirects to redirect_uri (which must be
                    http://127.0.0.1:PORT) with code and state. Wants
                    response_type=code, the client id, state and an S256
                    code_challenge; with deny set, redirects with
                    error=access_denied instead.
  POST /token       grant_type=authorization_code: the code once, for the same
                    client and redirect_uri, and only with the code_verifier
                    whose S256 hash is the challenge; grant_type=refresh_token:
                    a refresh token not revoked. Issues access tokens that
                    live expires_in seconds and refresh tokens (a new one with
                    each refresh under --rotate). Errors as RFC 6749 5.2.
  GET  /check?token=T  200 and {"user"} while T is a live access token, else
                    401: for mail servers of the tests that check a token.
  GET  /mint?user=U an access token for U at once, as a token command's own
                    store would hand out: {"access_token"}.
  GET  /control?... revoke=1 (revokes every refresh token), expires_in=N,
                    deny=0|1, uses=N (the next access token issued is live
                    for N checks), revoke_after=N (every refresh token is
                    revoked after N more refreshes); answers with the
                    statistics: {"exchanges", "pkce_verified", "refreshes",
                    "refused", "checks_refused"}.

Arguments: --client-id ID (default test-client), --client-secret S (then
required), --expires-in N (default 3600), --rotate, --tls-cert PEM --tls-key
PEM (https), --max-seconds N (default 120: it never lingers), --watch-stdin
(also ends when stdin reaches its end).
"""

import argparse
import base64
import hashlib
import json
import os
import secrets
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlencode, urlsplit


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.codes = {}      # code -> (client_id, redirect_uri, challenge, user)
        self.refresh = {}    # refresh token -> user
        self.access = {}     # access token -> [user, expiry, checks left or None]
        self.expires_in = args.expires_in
        self.deny = False
        self.next_uses = None
        self.revoke_after = None
        self.stats = {"exchanges": 0, "pkce_verified": 0, "refreshes": 0, "refused": 0, "checks_refused": 0}

    def mint(self, user):
        access = "at-" + secrets.token_urlsafe(16)
        self.access[access] = [user, time.monotonic() + self.expires_in, self.next_uses]
        self.next_uses = None
        return access

    def check(self, token):
        user, expiry, uses = self.access.get(token, (None, 0, None))
        if user is None or expiry <= time.monotonic() or uses == 0:
            self.stats["checks_refused"] += 1
            return None
        if uses is not None:
            self.access[token][2] = uses - 1
        return user

    def issue(self, user, refresh_token=None):
        access = self.mint(user)
        if refresh_token is None or self.args.rotate:
            self.refresh.pop(refresh_token, None)
            refresh_token = "rt-" + secrets.token_urlsafe(16)
            self.refresh[refresh_token] = user
        return {"access_token": access, "token_type": "Bearer", "expires_in": self.expires_in,
                "refresh_token": refresh_token}


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):  # tokens travel in these requests
        pass

    def send(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, status, obj):
        self.send(status, json.dumps(obj).encode(), [("Content-Type", "application/json")])

    def refuse(self, code, description, status=400):
        self.server.state.stats["refused"] += 1
        self.send_json(status, {"error": code, "error_description": description})

    def do_GET(self):
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        state = self.server.state
        with state.lock:
            if url.path == "/authorize":
                self.authorize(state, query)
            elif url.path == "/check":
                user = state.check(query.get("token"))
                self.send_json(200 if user else 401, {"user": user} if user else {})
            elif url.path == "/mint":
                self.send_json(200, {"access_token": state.mint(query.get("user", "user"))})
            elif url.path == "/control":
                if query.get("revoke") == "1":
                    state.refresh.clear()
                if "expires_in" in query:
                    state.expires_in = int(query["expires_in"])
                if "deny" in query:
                    state.deny = query["deny"] == "1"
                if "uses" in query:
                    state.next_uses = int(query["uses"])
                if "revoke_after" in query:
                    state.revoke_after = int(query["revoke_after"])
                self.send_json(200, state.stats)
            else:
                self.send(404)

    def authorize(self, state, q):
        redirect = q.get("redirect_uri", "")
        if (q.get("response_type") != "code" or q.get("client_id") != state.args.client_id
                or not redirect.startswith("http://127.0.0.1:") or not q.get("state")
                or q.get("code_challenge_method") != "S256" or not q.get("code_challenge")):
            self.send(400, b"malformed authorization request")
            return
        if state.deny:
            answer = {"error": "access_denied", "error_description": "The user declined", "state": q["state"]}
        else:
            code = secrets.token_urlsafe(16)
            state.codes[code] = (q["client_id"], redirect, q["code_challenge"], q.get("login_hint", "user"))
            answer = {"code": code, "state": q["state"]}
        self.send(302, headers=[("Location", redirect.rstrip("/") + "/?" + urlencode(answer))])

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        form = {k: v[0] for k, v in parse_qs(self.rfile.read(length).decode()).items()}
        state = self.server.state
        with state.lock:
            if urlsplit(self.path).path != "/token":
                self.send(404)
            elif form.get("client_id") != state.args.client_id or (
                    state.args.client_secret and form.get("client_secret") != state.args.client_secret):
                self.refuse("invalid_client", "Unknown client", 401)
            elif form.get("grant_type") == "authorization_code":
                self.exchange(state, form)
            elif form.get("grant_type") == "refresh_token":
                user = state.refresh.get(form.get("refresh_token"))
                if user is None:
                    self.refuse("invalid_grant", "The refresh token was revoked")
                    return
                state.stats["refreshes"] += 1
                self.send_json(200, state.issue(user, form["refresh_token"]))
                if state.revoke_after is not None:
                    state.revoke_after -= 1
                    if state.revoke_after == 0:
                        state.refresh.clear()
            else:
                self.refuse("unsupported_grant_type", "Unknown grant type")

    def exchange(self, state, form):
        client, redirect, challenge, user = state.codes.pop(form.get("code"), (None,) * 4)
        if client is None or redirect != form.get("redirect_uri"):
            self.refuse("invalid_grant", "Unknown code or another redirect_uri")
        elif s256(form.get("code_verifier", "")) != challenge:
            self.refuse("invalid_grant", "PKCE verification failed")
        else:
            state.stats["exchanges"] += 1
            state.stats["pkce_verified"] += 1
            self.send_json(200, state.issue(user))


def main():
    parser = argparse.ArgumentParser(description="local OAuth2 authorization server for tests")
    parser.add_argument("--client-id", default="test-client")
    parser.add_argument("--client-secret")
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--max-seconds", type=float, default=120.0)
    parser.add_argument("--watch-stdin", action="store_true")
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.state = State(args)
    if args.tls_cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = tls.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)

    def stop_at_end_of_input():
        while os.read(sys.stdin.fileno(), 4096):
            pass
        server.shutdown()
    if args.watch_stdin:
        threading.Thread(target=stop_at_end_of_input, daemon=True).start()
    threading.Timer(args.max_seconds, server.shutdown).start()
    server.serve_forever()
    os._exit(0)  # the lifetime timer may still be waiting


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A local SMTP sink for tests and benchmarks (Debian's aiosmtpd).

Listens on 127.0.0.1 only, on an ephemeral port, and accepts every message.

Arguments:
  --port-file PATH   write the port number there once listening (written to a
                     temporary name and renamed, so a reader never sees half a
                     number). Without it the port is printed as stdout's
                     first line (flushed).
  --store-dir DIR    store each message received: msg-0001.eml holds the data
                     exactly as received after the DATA command (dot
                     transparency undone, the final "." line removed),
                     msg-0001.json the envelope: {"mail_from", "rcpt_tos",
                     "mail_options", "size"}. Numbering starts at 1.
  --discard          accept and drop every message (benchmarks); only counts.
                     One of --store-dir / --discard is required.
  --max-seconds N    hard lifetime (default 60): the sink exits after N
                     seconds whatever happens, so it can never linger.
  --watch-stdin      also exit when stdin reaches end of file (start it with a
                     pipe and close the pipe to stop it).
  --data-limit N     largest message accepted in bytes (default 0: no limit).
  --count-file PATH  on exit, write the number of messages received there.
  --tls-cert PEM --tls-key PEM
                     offer STARTTLS with this certificate and require it
                     before any mail (and before a login).
  --login USER:PASSWORD
                     offer AUTH PLAIN and LOGIN (after STARTTLS when it is
                     offered) and accept only this pair; mail needs no login.
  --pipelining       say PIPELINING after EHLO (aiosmtpd reads commands in
                     order anyway, so pipelined ones are answered in order).
  --chunking         say CHUNKING after EHLO and take messages in BDAT chunks
                     (RFC 3030) besides DATA.
  --reply-delay-ms N answer each command N ms after it arrived, as a server
                     that far away would: replies to commands that came
                     together (pipelined) are under way together, so the
                     client waits once per round trip, not once per command.

  --host ADDRESS     listen on this loopback address instead of 127.0.0.1
                     (::1 for IPv6).
  --oauth-check URL  offer AUTH OAUTHBEARER and XOAUTH2 (and no password
                     login) and take a token while URL?token=TOKEN answers
                     200 with {"user"} the login's user (the test
                     authorization server's /check). A refused token gets
                     the challenge its protocol sends ({"status":"401"} or
                     {"status":"invalid_token"}), must be answered as that
                     protocol asks (an empty line, a lone ^A), then 535.
  --oauth-mechanisms LIST  the token logins offered (default
                     "OAUTHBEARER XOAUTH2").
  --auth-log PATH    append each token login's dialogue as this server saw
                     it, decoded, the token masked, to PATH.

Exits on SIGTERM or SIGINT as well; exit status 0 in every orderly case.
"""

import argparse
import asyncio
import json
import logging
import os
import signal
import sys

import base64
import collections
import re
import ssl
import urllib.error
import urllib.parse
import urllib.request

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


class Handler:
    def __init__(self, store_dir):
        self.store_dir = store_dir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        if self.store_dir:
            base = os.path.join(self.store_dir, "msg-%04d" % self.count)
            data = envelope.original_content or b""
            with open(base + ".eml.part", "wb") as f:
                f.write(data)
            with open(base + ".json", "w") as f:
                json.dump({
                    "mail_from": envelope.mail_from,
                    "rcpt_tos": list(envelope.rcpt_tos),
                    "mail_options": list(envelope.mail_options),
                    "size": len(data),
                }, f)
            # The .eml appears last and whole: a waiting reader may take it
            # as the sign that the message is complete.
            os.replace(base + ".eml.part", base + ".eml")
        return "250 OK"


class ExtensionsHandler(Handler):
    """Says the extensions in `extensions` after EHLO."""
    extensions = []

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return responses[:-1] + ["250-" + e for e in self.extensions] + [responses[-1]]


class Chunking:
    """BDAT for an aiosmtpd server class: a message's chunks are gathered and
    the last one hands the whole to the handler as DATA would."""

    async def smtp_BDAT(self, arg):
        words = (arg or "").split()
        if not words or not words[0].isdigit() or (len(words) > 1 and words[1].upper() != "LAST"):
            await self.push("501 Syntax: BDAT size [LAST]")
            return
        data = await self._reader.readexactly(int(words[0]))
        last = len(words) > 1
        chunks = self.__dict__.setdefault("_chunks", [])
        chunks.append(data)
        if not last:
            await self.push("250 2.0.0 %d octets taken" % len(data))
            return
        content = b"".join(chunks)
        chunks.clear()
        if not self.envelope.rcpt_tos:
            self._set_post_data_state()
            await self.push("554 5.5.1 Error: no valid recipients")
            return
        self.envelope.content = self.envelope.original_content = content
        status = await self._call_handler_hook("DATA")
        self._set_post_data_state()
        await self.push("250 OK" if status is MISSING else status)


# aiosmtpd warns of each login's field it plans to drop.
logging.getLogger("mail.log").addFilter(lambda record: "login_data" not in record.getMessage())


class TokenLogins:
    """XOAUTH2 and OAUTHBEARER for a handler: each response is checked
    against its protocol's form and its token against --oauth-check."""

    FORMS = {
        "XOAUTH2": re.compile(rb"user=([^\x01]+)\x01auth=Bearer ([^\x01]+)\x01\x01"),
        "OAUTHBEARER": re.compile(
            rb"n,a=([^,]*),\x01host=[^\x01]+\x01port=[0-9]+\x01auth=Bearer ([^\x01]+)\x01\x01"),
    }
    REFUSALS = {
        "XOAUTH2": (b'{"status":"401","schemes":"bearer","scope":"mail.send"}', b""),
        "OAUTHBEARER": (b'{"status":"invalid_token","scope":"mail.send"}', b"\x01"),
    }

    async def auth_XOAUTH2(self, server, args):
        return await self.token_login(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.token_login(server, args, "OAUTHBEARER")

    def check(self, user, token):
        url = self.oauth_check + "?" + urllib.parse.urlencode({"token": token})
        try:
            with urllib.request.urlopen(url, timeout=10) as answer:
                return json.load(answer).get("user") == user
        except urllib.error.HTTPError:
            return False

    async def token_login(self, server, args, mechanism):
        dialogue = []
        try:
            return await self.token_dialogue(server, args, mechanism, dialogue)
        finally:
            if self.auth_log:
                with open(self.auth_log, "a") as f:
                    f.write("".join(line + "\n" for line in dialogue) + "\n")

    async def token_dialogue(self, server, args, mechanism, dialogue):
        def shown(data):
            return data.decode("utf-8", "replace").replace("\x01", "^A")
        response = base64.b64decode(args[1]) if len(args) == 2 else b""
        form = self.FORMS[mechanism].fullmatch(response)
        masked = response.replace(form.group(2), b"****") if form else response
        dialogue.append("C: AUTH %s <%s>" % (mechanism, shown(masked)))
        if not form:
            dialogue.append("S: 501 5.5.2 Malformed %s response" % mechanism)
            await server.push(dialogue[-1][3:])
            return AuthResult(success=False, handled=True)
        user = form.group(1).replace(b"=2C", b",").replace(b"=3D", b"=").decode()
        live = await asyncio.get_running_loop().run_in_executor(None, self.check, user, form.group(2).decode())
        if live:
            dialogue.append("S: 235 2.7.0 Authentication successful")
            return AuthResult(success=True, auth_data=user)
        challenge, expected = self.REFUSALS[mechanism]
        dialogue.append("S: 334 <%s>" % challenge.decode())
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        dialogue.append("C: <%s>" % shown(answer))
        if answer != expected:
            dialogue.append("S: 501 5.5.2 That is no answer to the refusal")
            await server.push(dialogue[-1][3:])
            return AuthResult(success=False, handled=True)
        dialogue.append("S: 535 5.7.8 Authentication credentials invalid")
        return AuthResult(success=False, handled=False, message=dialogue[-1][3:])


class DistantSMTP(SMTP):
    """Each reply leaves `reply_delay` seconds after the line it answers was
    read; lines already waiting in the buffer are read without waiting for
    earlier replies to leave."""

    def __init__(self, *args, reply_delay, **kwargs):
        super().__init__(*args, **kwargs)
        self._reply_delay = reply_delay
        self._line_read_at = 0.0
        self._replies = collections.deque()
        self._sender = None

    def _client_connected_cb(self, reader, writer):
        super()._client_connected_cb(reader, writer)
        self._line_read_at = self.loop.time()
        read_line = reader.readuntil

        async def timed_read_line(*args, **kwargs):
            line = await read_line(*args, **kwargs)
            self._line_read_at = self.loop.time()
            return line
        reader.readuntil = timed_read_line

    async def _send_replies(self):
        while self._replies:
            due, data = self._replies[0]
            if due > self.loop.time():
                await asyncio.sleep(due - self.loop.time())
            self._replies.popleft()
            self._writer.write(data)

    async def push(self, status):
        data = status.encode("utf-8") if isinstance(status, str) else status
        self._replies.append((self._line_read_at + self._reply_delay, data + b"\r\n"))
        if self._sender is None or self._sender.done():
            self._sender = self.loop.create_task(self._send_replies())
        # With no further command waiting, let the replies leave before
        # going on: STARTTLS and QUIT change the transport right after.
        if b"\n" not in self._reader._buffer:
            await self._sender
            await self._writer.drain()


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


async def main(args):
    loop = asyncio.get_running_loop()
    extensions = (["PIPELINING"] if args.pipelining else []) + (["CHUNKING"] if args.chunking else [])
    base = type("Extensions", (ExtensionsHandler,), {"extensions": extensions}) if extensions else Handler
    if args.oauth_check:
        base = type("TokenHandler", (TokenLogins, base), {"oauth_check": args.oauth_check,
                                                        "auth_log": args.auth_log})
    handler = base(args.store_dir)
    limit = args.data_limit if args.data_limit > 0 else None
    options = dict(data_size_limit=limit, hostname="sink.local", timeout=args.max_seconds)
    if args.tls_cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
        options.update(tls_context=tls, require_starttls=True)
    if args.login:
        user, password = (part.encode() for part in args.login.split(":", 1))

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user
                  and auth_data.password == password)
            return AuthResult(success=ok, handled=False)
        options.update(authenticator=authenticator, auth_require_tls=bool(args.tls_cert))
    if args.oauth_check:
        offered = args.oauth_mechanisms.split()
        options.update(auth_require_tls=bool(args.tls_cert), auth_exclude_mechanism=[
            m for m in ("LOGIN", "PLAIN", "XOAUTH2", "OAUTHBEARER") if m not in offered])
    server_class = DistantSMTP if args.reply_delay_ms > 0 else SMTP
    if args.chunking:
        server_class = type("Chunking" + server_class.__name__, (Chunking, server_class), {})
    if args.reply_delay_ms > 0:
        factory = lambda: server_class(handler, reply_delay=args.reply_delay_ms / 1000.0, **options)
    else:
        factory = lambda: server_class(handler, **options)
    server = await loop.create_server(factory, host=args.host, port=0)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        write_atomically(args.port_file, "%d\n" % port)
    else:
        print(port, flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    if args.watch_stdin:
        def on_stdin():
            if not os.read(sys.stdin.fileno(), 4096):
                loop.remove_reader(sys.stdin.fileno())
                stop.set()
        loop.add_reader(sys.stdin.fileno(), on_stdin)
    try:
        await asyncio.wait_for(stop.wait(), timeout=args.max_seconds)
    except asyncio.TimeoutError:
        print("smtp_sink: lifetime of %s s reached, exiting" % args.max_seconds,
              file=sys.stderr)
    server.close()
    if args.count_file:
        write_atomically(args.count_file, "%d\n" % handler.count)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="local SMTP sink for tests")
    parser.add_argument("--port-file")
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--store-dir")
    group.add_argument("--discard", action="store_true")
    parser.add_argument("--max-seconds", type=float, default=60.0)
    parser.add_argument("--watch-stdin", action="store_true")
    parser.add_argument("--data-limit", type=int, default=0)
    parser.add_argument("--count-file")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--login")
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--chunking", action="store_true")
    parser.add_argument("--reply-delay-ms", type=float, default=0.0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--oauth-check")
    parser.add_argument("--oauth-mechanisms", default="OAUTHBEARER XOAUTH2")
    parser.add_argument("--auth-log")
    args = parser.parse_args()
    if args.store_dir:
        os.makedirs(args.store_dir, exist_ok=True)
    asyncio.run(main(args))

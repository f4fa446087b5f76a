#!/usr/bin/python3
"""An aiosmtpd server on 127.0.0.1 for the TLS tests: STARTTLS or implicit
TLS with the given certificate, optional login (user "user", password
"secret"). Prints its port, then one line per accepted message; exits when
stdin closes or after --max-seconds."""

import argparse
import asyncio
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Handler:
    async def handle_DATA(self, server, session, envelope):
        print("MESSAGE", envelope.mail_from, flush=True)
        return "250 OK"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == b"user" and auth_data.password == b"secret"
    return AuthResult(success=ok, handled=False)


async def main(args):
    loop = asyncio.get_running_loop()
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    starttls = context if args.mode == "starttls" else None
    factory = lambda: SMTP(Handler(), hostname="tls.sink", tls_context=starttls,
                           require_starttls=starttls is not None,
                           authenticator=authenticator if args.auth else None,
                           auth_require_tls=args.mode != "implicit", auth_exclude_mechanism=args.exclude or None)
    server = await loop.create_server(factory, host="127.0.0.1", port=0,
                                      ssl=context if args.mode == "implicit" else None)
    print(server.sockets[0].getsockname()[1], flush=True)
    done = asyncio.Event()
    loop.add_reader(sys.stdin.fileno(), lambda: os.read(sys.stdin.fileno(), 4096) or done.set())
    try:
        await asyncio.wait_for(done.wait(), timeout=args.max_seconds)
    except asyncio.TimeoutError:
        pass
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["plain", "starttls", "implicit"], required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth", action="store_true")
    parser.add_argument("--exclude", action="append")
    parser.add_argument("--max-seconds", type=float, default=60.0)
    asyncio.run(main(parser.parse_args()))

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

Exits on SIGTERM or SIGINT as well; exit status 0 in every orderly case.
"""

import argparse
import asyncio
import json
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


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


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


async def main(args):
    loop = asyncio.get_running_loop()
    handler = Handler(args.store_dir)
    limit = args.data_limit if args.data_limit > 0 else None
    server = await loop.create_server(
        lambda: SMTP(handler, data_size_limit=limit, hostname="sink.local",
                     timeout=args.max_seconds),
        host="127.0.0.1", port=0)
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
    args = parser.parse_args()
    if args.store_dir:
        os.makedirs(args.store_dir, exist_ok=True)
    asyncio.run(main(args))

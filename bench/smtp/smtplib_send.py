#!/usr/bin/python3
"""The same sending job done with Python's smtplib and email packages.

  smtplib_send.py --port P --messages N [--attachment FILE] [--body-bytes B]
                  [--starttls --ca-file PEM] [--user NAME]

Builds the message once per send (as a mailer does), one connection per
message to a customer of its own, and prints "key value" lines: wall time
and this process's own CPU time (user + system). --starttls does starttls()
(trusting the authority in PEM, one SSL context for the run) and --user
login() with the password in ORDERGATE_SMTP_PASSWORD, on every connection.
"""

import argparse
import os
import resource
import smtplib
import ssl
import time
from email import encoders
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def build(body, attachment, to):
    msg = MIMEMultipart()
    msg["From"] = "Example Shop <shop@example.com>"
    msg["Subject"] = "Your download is ready"
    msg["To"] = to
    msg.attach(MIMEText(body, "plain"))
    if attachment:
        part = MIMEBase("application", "octet-stream")
        with open(attachment, "rb") as f:
            part.set_payload(f.read())
        encoders.encode_base64(part)
        name = os.path.basename(attachment)
        part.add_header("Content-Disposition", "attachment", filename=name)
        msg.attach(part)
    return msg


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--messages", type=int, default=500)
    p.add_argument("--attachment")
    p.add_argument("--body-bytes", type=int, default=2048)
    p.add_argument("--starttls", action="store_true")
    p.add_argument("--ca-file")
    p.add_argument("--user")
    a = p.parse_args()
    password = os.environ.get("ORDERGATE_SMTP_PASSWORD", "")
    line = "The quick brown fox jumps over the lazy dog, again and again and .\n"
    body = line * ((a.body_bytes + len(line) - 1) // len(line))
    cpu0, wall0 = cpu_seconds(), time.monotonic()
    context = ssl.create_default_context(cafile=a.ca_file) if a.starttls else None
    for i in range(a.messages):
        msg = build(body, a.attachment, "customer%d@example.org" % (i + 1))
        with smtplib.SMTP("127.0.0.1", a.port, timeout=60) as s:
            if context:
                s.starttls(context=context)
            if a.user:
                s.login(a.user, password)
            s.send_message(msg)
    wall, cpu = time.monotonic() - wall0, cpu_seconds() - cpu0
    print("messages %d" % a.messages)
    print("wall_s %.4f" % wall)
    print("cpu_s %.4f" % cpu)
    print("msgs_per_s %.1f" % (a.messages / wall))
    print("ms_per_msg %.4f" % (wall * 1e3 / a.messages))
    print("cpu_ms_per_msg %.4f" % (cpu * 1e3 / a.messages))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A mail server for tests, on a free loopback port that it prints on its first line.

usage: smtp_server.py MODE FILE
  record       accept every mail and append it to FILE as lines "HELO h", "FROM a", one "TO a"
               per recipient, "DATA n", then the n bytes of the message and a line feed
  refuse-rcpt  refuse every recipient (550)
  refuse-data  refuse every message at its end (554)
  hang         accept connections and never answer
"""
import asyncio
import sys

from aiosmtpd.smtp import SMTP


class Recorder:
    def __init__(self, mode, path):
        self.mode = mode
        self.path = path

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "refuse-rcpt":
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "refuse-data":
            return "554 5.6.0 Message refused"
        data = envelope.original_content or envelope.content
        head = "HELO %s\nFROM %s\n" % (session.host_name, envelope.mail_from)
        head += "".join("TO %s\n" % r for r in envelope.rcpt_tos)
        head += "DATA %d\n" % len(data)
        with open(self.path, "ab") as f:
            f.write(head.encode("utf-8") + data + b"\n")
        return "250 Message accepted for delivery"


async def main():
    mode, path = sys.argv[1], sys.argv[2]
    loop = asyncio.get_running_loop()
    if mode == "hang":
        async def silent(reader, writer):
            await reader.read()  # until the client goes
        server = await asyncio.start_server(silent, "127.0.0.1", 0)
    else:
        handler = Recorder(mode, path)
        server = await loop.create_server(lambda: SMTP(handler, hostname="mail.test"), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())

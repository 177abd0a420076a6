"""Prints what the e-mail tests check of a received message, read by the email package.

With a second argument, each attachment is also written into that folder under its own name.
"""
import email
import email.policy
import hashlib
import os
import sys

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)
for name in ("From", "To", "Cc", "Bcc", "X-MailFrom", "X-RcptTo", "Subject"):
    if msg[name] is not None:
        print(f"{name}: {msg[name]}")
for name in ("Date", "Message-ID"):
    print(f"{name}? {'sim' if msg[name] else 'nao'}")
body = msg.get_body(preferencelist=("html", "plain"))
print(f"Corpo: {body.get_content_type()} {body.get_content_charset()} {body.get_content().strip()}")
for part in msg.iter_attachments():
    data = part.get_payload(decode=True)
    print(f"Anexo: {part.get_filename()} {part.get_content_type()} {hashlib.sha256(data).hexdigest()}")
    if len(sys.argv) > 2:
        with open(os.path.join(sys.argv[2], os.path.basename(part.get_filename())), "wb") as out:
            out.write(data)

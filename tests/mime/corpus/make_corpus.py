#!/usr/bin/env python3
"""Writes a corpus of messages made by Python's email package, with what
Python reads back from each of them, for MimeCorpusTest.

Usage: make_corpus.py OUTDIR

For every message NNN.eml the file NNN.expect holds one record per line,
fields separated by single spaces, every byte string in hex ("-" if empty):

  part PATH CODE SUBTYPE NCHILDREN HASCONTENT CONTENT
  names PATH NAME...             the header field names, in order
  value PATH NAME VALUE          a field value, decoded and unfolded
  param PATH FIELD PARAM VALUE   a parameter of a field
  epilogue VALUE                 the text after the closing delimiter (not ours)
  out KEY VALUE                  the outgoing-message analysis (key: to cc bcc
                                 subject body format), computed here from
                                 Python's parse of the message as the SMTP
                                 session hands it over (final CR LF removed)

PATH is "0" for the message and "0.i.j" for its descendants.
"""

import email
import email.header
import email.policy
import os
import random
import re
import sys
from email.message import EmailMessage, Message
from email.mime.application import MIMEApplication
from email.mime.image import MIMEImage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

SMTP = email.policy.SMTP
COMPAT = email.policy.compat32.clone(linesep="\r\n")

WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu "
         "Grüße café naïve smørrebrød Ærø Ünïcödé 東京 Привет").split()

CODES = {"text": 0, "image": 1, "audio": 2, "video": 3, "application": 4,
         "multipart": 5, "message": 6}


def hx(b):
    if isinstance(b, str):
        b = b.encode("utf-8", "surrogateescape")
    return b.hex() if b else "-"


def text(rnd, lines, ascii_only=False):
    words = [w for w in WORDS if w.isascii()] if ascii_only else WORDS
    out = []
    for _ in range(lines):
        n = rnd.randint(0, 25)
        out.append(" ".join(rnd.choice(words) for _ in range(n)))
    return "\n".join(out) + "\n"


def blob(rnd, n):
    return bytes(rnd.getrandbits(8) for _ in range(n))


# ---- messages --------------------------------------------------------------

def headers(m, rnd, i):
    m["From"] = rnd.choice(["Ann Example <ann@example.org>", "Jörg Müller <joerg@example.de>",
                            "bob@example.com"])
    m["To"] = rnd.choice(["carol@example.net",
                          "Zoë Zed <zoe@example.net>, dan@example.net",
                          "Émile <e@example.fr>, Ann <ann@example.org>, x@example.com"])
    if rnd.random() < 0.5:
        m["Cc"] = rnd.choice(["Ünal <u@example.tr>", "c1@example.org, c2@example.org"])
    if rnd.random() < 0.3:
        m["Bcc"] = "hidden@example.org"
    subj = " ".join(rnd.choice(WORDS) for _ in range(rnd.randint(1, 18)))
    m["Subject"] = "Message %d: %s" % (i, subj)
    m["Message-ID"] = "<%d.corpus@example.org>" % i
    m["X-Note"] = rnd.choice(["plain note", "Grüße aus Köln", "ok"])


def simple(rnd, i):
    m = EmailMessage(policy=SMTP)
    headers(m, rnd, i)
    cte = rnd.choice([None, "quoted-printable", "base64", "8bit", "7bit"])
    body = text(rnd, rnd.randint(1, 30), ascii_only=(cte == "7bit"))
    subtype = rnd.choice(["plain", "html"])
    if subtype == "html":
        body = "<html><body><p>" + body.replace("\n", "</p>\n<p>") + "</p></body></html>\n"
    m.set_content(body, subtype=subtype, cte=cte)
    return m


def alternative(rnd, i):
    m = EmailMessage(policy=SMTP)
    headers(m, rnd, i)
    body = text(rnd, rnd.randint(1, 20))
    m.set_content(body, cte=rnd.choice([None, "quoted-printable", "base64"]))
    m.add_alternative("<p>" + body + "</p>", subtype="html",
                      cte=rnd.choice([None, "quoted-printable", "base64"]))
    return m


def mixed(rnd, i):
    m = EmailMessage(policy=SMTP)
    headers(m, rnd, i)
    body = text(rnd, rnd.randint(1, 20))
    m.set_content(body)
    if rnd.random() < 0.5:
        m.add_alternative("<p>" + body + "</p>", subtype="html")
    for k in range(rnd.randint(1, 3)):
        kind = rnd.choice(["pdf", "png", "txt"])
        if kind == "pdf":
            m.add_attachment(b"%PDF-1.4\n" + blob(rnd, rnd.randint(0, 3000)), maintype="application",
                             subtype="pdf", filename="doc%d.pdf" % k)
        elif kind == "png":
            m.add_attachment(b"\x89PNG\r\n\x1a\n" + blob(rnd, rnd.randint(0, 2000)),
                             maintype="image", subtype="png", filename="pic%d.png" % k)
        else:
            m.add_attachment(text(rnd, 5), filename="notes%d.txt" % k)
    return m


def related(rnd, i):
    m = EmailMessage(policy=SMTP)
    headers(m, rnd, i)
    m.set_content(text(rnd, 3))
    m.add_alternative('<p>see <img src="cid:img%d"></p>' % i, subtype="html")
    html = m.get_payload()[1]
    html.add_related(b"GIF89a" + blob(rnd, 300), maintype="image", subtype="gif",
                     cid="<img%d>" % i)
    return m


def nested_compat(rnd, i):
    """The older MIME classes, with a preamble, an epilogue and an
    ISO-8859-1 subject."""
    outer = MIMEMultipart("mixed")
    outer["Subject"] = email.header.Header("Grüße %d - Ärger" % i, "iso-8859-1")
    outer["From"] = "ann@example.org"
    outer["To"] = "bob@example.com"
    outer.preamble = "This is a multi-part message in MIME format."
    outer.epilogue = "the end"
    alt = MIMEMultipart("alternative")
    body = text(rnd, 4)
    alt.attach(MIMEText(body, "plain", "utf-8"))
    alt.attach(MIMEText("<b>" + body + "</b>", "html", "iso-8859-1"
                        if all(ord(c) < 256 for c in body) else "utf-8"))
    outer.attach(alt)
    outer.attach(MIMEImage(b"GIF89a" + blob(rnd, 500), "gif"))
    outer.attach(MIMEApplication(blob(rnd, 700), "octet-stream"))
    return outer


def first_image(rnd, i):
    m = EmailMessage(policy=SMTP)
    headers(m, rnd, i)
    m.make_mixed()
    img = EmailMessage(policy=SMTP)
    img.set_content(b"\x89PNG" + blob(rnd, 400), maintype="image", subtype="png")
    m.attach(img)
    m.add_attachment(text(rnd, 2))
    return m


BUILDERS = [simple, alternative, mixed, related, nested_compat, first_image]


# ---- what Python reads back --------------------------------------------------

VALUE_FIELDS = {"from", "to", "cc", "bcc", "subject", "x-note", "reply-to", "comments"}
FIRST_WORD = re.compile(r"=\?([^?]*)\?[bBqQ]\?")


def first_charset(raw):
    m = FIRST_WORD.search(raw)
    return m.group(1) if m and m.group(1) else None


def decoded_value(modern_msg, compat_msg, name, index):
    """The field value as text: encoded words decoded, folds undone; in the
    bytes of the charset of its first encoded word."""
    raw = compat_msg.get_all(name)[index]
    value = str(modern_msg.get_all(name)[index])
    cs = first_charset(raw) or "utf-8"
    return value.encode(cs, "surrogateescape")


def describe(modern, compat, path, out):
    code = CODES.get(compat.get_content_maintype(), 7)
    if compat.get("Content-Type") is None:
        code = 0
    sub = compat.get_content_subtype()
    if compat.get("Content-Type") is not None:
        # Python lowers the subtype; ours keeps its case as written.
        written = subtype_of(raw_type(compat))
        assert written.lower() == sub, (written, sub)
        sub = written
    if compat.is_multipart():
        kids = compat.get_payload()
        pre = compat.preamble
        # Our multipart content is its preamble with the CR LF that precedes
        # the first delimiter.
        content = None if pre is None else pre.encode("utf-8", "surrogateescape") + b"\r\n"
    else:
        kids = []
        content = compat.get_payload(decode=True)
        # An empty body has no content on our side.
        if content == b"":
            content = None
    out.append("part %s %d %s %d %d %s" % (path, code, hx(sub), len(kids),
                                           0 if content is None else 1, hx(content or b"")))
    names = compat.keys()
    out.append("names %s %s" % (path, " ".join(hx(n) for n in names) or "-"))
    seen = {}
    for n in names:
        k = n.lower()
        idx = seen.get(k, 0)
        seen[k] = idx + 1
        if k in VALUE_FIELDS and idx == 0:
            out.append("value %s %s %s" % (path, hx(n), hx(decoded_value(modern, compat, n, idx))))
    for field in ("Content-Type", "Content-Disposition"):
        if compat.get(field) is None:
            continue
        for p in ("boundary", "charset", "filename", "name"):
            v = compat.get_param(p, header=field)
            if v is None or isinstance(v, tuple):
                continue  # RFC 2231 values are not decoded by our library
            out.append("param %s %s %s %s" % (path, hx(field), hx(p), hx(email.utils.unquote(v))))
    mkids = modern.get_payload() if modern.is_multipart() else []
    for i, (mk, ck) in enumerate(zip(mkids, kids)):
        describe(mk, ck, "%s.%d" % (path, i), out)


# The analysis rules, written again from their description: first fields by
# name, then a walk that takes text/html (exact subtype), the second child of
# multipart/alternative (exact subtype), the first child of other multiparts
# and any other part as it is.

def raw_type(part):
    v = part.get("Content-Type")
    return None if v is None else str(v)


def code_of(ct):
    if ct is None:
        return 0
    for name, code in CODES.items():
        if ct[:len(name)].lower() == name:
            return code
    return 7


def subtype_of(ct):
    if ct is None:
        return "plain"
    main = ct.split(";", 1)[0].rstrip(" \t\r\n\v\f")
    if "/" not in main:
        return main
    return main.split("/", 1)[1]


def analyse(data):
    compat = email.message_from_bytes(data, policy=COMPAT)
    modern = email.message_from_bytes(data, policy=SMTP)
    res = {k: b"" for k in ("to", "cc", "bcc", "subject", "body", "format")}
    for key, name in (("to", "To"), ("cc", "Cc"), ("bcc", "Bcc"), ("subject", "Subject")):
        if compat.get_all(name):
            res[key] = decoded_value(modern, compat, name, 0)
    part = compat
    while True:
        ct = raw_type(part)
        code, sub = code_of(ct), subtype_of(ct)
        if code == 0:
            if sub == "html":
                res["format"] = b"html"
            break
        if code == 5:
            kids = part.get_payload() if part.is_multipart() else []
            want = 1 if sub == "alternative" else 0
            if len(kids) <= want:
                part = None
                break
            part = kids[want]
            continue
        break
    if part is not None:
        res["body"] = part.get_payload(decode=True) or b""
    return res


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    random.seed(1234)  # the boundaries come from the global generator
    rnd = random.Random(42)
    names = []
    count = 0
    for round_ in range(12):
        for build in BUILDERS:
            msg = build(rnd, count)
            data = msg.as_bytes(policy=SMTP) if isinstance(msg, EmailMessage) else \
                msg.as_bytes(policy=COMPAT)
            if round_ == 11 and build is simple:
                # A subtype in capitals: the analysis compares it exactly.
                data = re.sub(rb"Content-Type: text/(plain|html)", b"Content-Type: text/HTML", data,
                              count=1)
            name = "%03d" % count
            count += 1
            with open(os.path.join(outdir, name + ".eml"), "wb") as f:
                f.write(data)
            out = []
            compat = email.message_from_bytes(data, policy=COMPAT)
            modern = email.message_from_bytes(data, policy=SMTP)
            describe(modern, compat, "0", out)
            if compat.is_multipart() and compat.epilogue:
                out.append("epilogue %s" % hx(compat.epilogue))
            submitted = data[:-2] if data.endswith(b"\r\n") else data
            for k, v in analyse(submitted).items():
                out.append("out %s %s" % (k, hx(v)))
            with open(os.path.join(outdir, name + ".expect"), "w") as f:
                f.write("\n".join(out) + "\n")
            names.append(name)
    with open(os.path.join(outdir, "index.txt"), "w") as f:
        f.write("\n".join(names) + "\n")


if __name__ == "__main__":
    main()

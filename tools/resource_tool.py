"""The command line that the resource generators share: write a resource that
passes the generator's own reader, or re-read one with --check.

    main(argv, doc, build, check, describe)

build() returns the resource's bytes; check(data) raises ValueError on a
malformed resource and returns what describe(result) turns into a line of
text."""
import sys


def main(argv, doc, build, check, describe):
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            print("%s: %s" % (argv[2], describe(check(f.read()))))
        return 0
    if len(argv) != 2:
        sys.stderr.write(doc)
        return 2
    data = build()
    check(data)
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0

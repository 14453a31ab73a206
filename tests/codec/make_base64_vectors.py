# Writes a C++ include of random byte strings with their Base64 text as made by
# Python's own base64 module, so the coder is checked against an independent
# implementation. The seed is fixed: the same vectors on every build.
import base64
import random
import sys

rng = random.Random(20261208)
lengths = list(range(0, 70)) + [255, 256, 257, 1000, 4095, 4096, 65537]
with open(sys.argv[1], "w") as out:
    out.write("// Generated at configure time; do not edit.\n")
    for n in lengths:
        data = bytes(rng.randrange(256) for _ in range(n))
        encoded = base64.b64encode(data).decode("ascii")
        out.write('{"%s", "%s"},\n' % (data.hex(), encoded))

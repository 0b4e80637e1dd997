"""orvo.uuid: construction modes, name-based UUIDs against Python's own,
text form, comparison, hashing and pickling."""
import pickle
import re
import sys
import unittest
import uuid

import orvo
from orvo_testing import other_string_type

PY3 = sys.version_info[0] >= 3
NIL = "00000000-0000-0000-0000-000000000000"
TEXT_FORM = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")


def reference_uuid(mode, name):
    """Python's own name-based UUID in the URL name space (UTF-8 for text)."""
    make = uuid.uuid3 if mode == orvo.UUID_MAKE_V3 else uuid.uuid5
    if PY3 and isinstance(name, bytes):
        name = name.decode("utf-8")
    if not PY3 and isinstance(name, unicode):  # noqa: F821 (Python 2.7 only)
        name = name.encode("utf-8")
    return str(make(uuid.NAMESPACE_URL, name))


class UuidTest(unittest.TestCase):
    def test_nil(self):
        self.assertEqual(repr(orvo.uuid()), NIL)
        for args in ((17,), (orvo.UUID_MAKE_V3,), (orvo.UUID_MAKE_V5, 3),
                     (orvo.UUID_MAKE_V4, "name"), ("not a uuid",), (2.5,), (None,)):
            self.assertEqual(repr(orvo.uuid(*args)), NIL, args)

    def test_generated_modes(self):
        for mode, version in ((orvo.UUID_MAKE_V1, "1"), (orvo.UUID_MAKE_V4, "4")):
            first, second = orvo.uuid(mode), orvo.uuid(mode)
            self.assertTrue(TEXT_FORM.match(repr(first)), repr(first))
            self.assertNotEqual(first, second)
            self.assertEqual(repr(first)[14], version)

    def test_named_modes_match_python_for_any_name(self):
        # Guards against names cut at 1023 bytes or at a NUL, against the
        # other string type giving the nil UUID, and against non-UTF-8 text.
        names = ["", "a", "http://example.org/", "x" * 1023, "x" * 1024, "y" * 5000, "a\0b", "\0",
                 "z" * 1023 + "\0tail", u"\u00e9t\u00e9 \u65e5\u672c"]
        for mode in (orvo.UUID_MAKE_V3, orvo.UUID_MAKE_V5):
            for name in names:
                expected = reference_uuid(mode, name)
                other = name.encode("utf-8") if isinstance(name, type(u"")) else other_string_type(name)
                self.assertEqual(repr(orvo.uuid(mode, name)), expected, (mode, len(name)))
                self.assertEqual(repr(orvo.uuid(mode, other)), expected, (mode, len(name)))
        self.assertEqual(orvo.uuid(orvo.UUID_MAKE_V5, "n", "extra"), orvo.uuid(orvo.UUID_MAKE_V5, "n"))

    def test_text_round_trip_order_hash_and_pickle(self):
        u = orvo.uuid(orvo.UUID_MAKE_V4)
        for text in (repr(u), repr(u) + "trailing", other_string_type(repr(u))):
            self.assertEqual(orvo.uuid(text), u)
        low = orvo.uuid("00000000-0000-0000-0000-000000000001")
        high = orvo.uuid("00000000-0000-0000-0000-000000000002")
        self.assertTrue(low < high and high > low and low != high)
        self.assertTrue(orvo.uuid() < low)
        self.assertEqual(hash(u), hash(orvo.uuid(repr(u))))
        self.assertEqual(len(set([u, orvo.uuid(repr(u)), orvo.uuid()])), 2)
        self.assertEqual(u.__reduce__(), (orvo.uuid, (repr(u),)))
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            self.assertEqual(pickle.loads(pickle.dumps(u, protocol)), u)


class StandardUuidTest(unittest.TestCase):
    """orvo.uuid beside Python's uuid.UUID: equal values compare equal both
    ways, hash alike, order alike and give the same hex and bytes."""

    def pairs(self):
        texts = [NIL, "ffffffff-ffff-ffff-ffff-ffffffffffff", "00000000-0000-0000-0000-000000000001",
                 "80000000-0000-0000-0000-000000000000", repr(orvo.uuid(orvo.UUID_MAKE_V1))]
        made = [orvo.uuid(orvo.UUID_MAKE_V4), orvo.uuid(orvo.UUID_MAKE_V3, "a"), orvo.uuid(orvo.UUID_MAKE_V5, "b")]
        return [(orvo.uuid(text), uuid.UUID(text)) for text in texts] + [(u, uuid.UUID(repr(u))) for u in made]

    def test_equality_hash_hex_bytes_and_construction(self):
        for ours, theirs in self.pairs():
            self.assertTrue(ours == theirs and theirs == ours, theirs)
            self.assertFalse(ours != theirs or theirs != ours, theirs)
            self.assertEqual(hash(ours), hash(theirs), theirs)
            self.assertEqual(ours.hex, theirs.hex)
            self.assertEqual(ours.bytes, theirs.bytes)
            self.assertEqual(uuid.UUID(bytes=ours.bytes), theirs)
            self.assertEqual(repr(orvo.uuid(theirs)), str(theirs))
            self.assertEqual({theirs: "value"}[ours], "value")
            self.assertEqual(len(set([ours, theirs])), 1)
        self.assertFalse(orvo.uuid() == 0 or orvo.uuid() == NIL)

    def test_order_is_that_of_the_standard_library(self):
        pairs = self.pairs()
        ours = sorted([p[0] for p in pairs] + [p[1] for p in pairs[::2]])
        self.assertEqual([str(u) if isinstance(u, uuid.UUID) else repr(u) for u in ours],
                         sorted([str(p[1]) for p in pairs] + [str(p[1]) for p in pairs[::2]]))
        for ours_value, theirs in pairs:
            for other in pairs:
                self.assertEqual(ours_value < other[1], theirs < other[1])
                self.assertEqual(other[1] < ours_value, other[1] < theirs)


if __name__ == "__main__":
    unittest.main()

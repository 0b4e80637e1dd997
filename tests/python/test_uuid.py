"""orvo.uuid: constants, construction modes, text form, comparison and
pickling."""
import pickle
import re
import sys
import unittest

import orvo

NIL = "00000000-0000-0000-0000-000000000000"
TEXT_FORM = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")


class UuidTest(unittest.TestCase):
    def test_constants(self):
        self.assertEqual((orvo.UUID_MAKE_V1, orvo.UUID_MAKE_V3, orvo.UUID_MAKE_V4,
                          orvo.UUID_MAKE_V5, orvo.UUID_MAKE_MC), (1, 2, 4, 8, 16))
        self.assertEqual(orvo.uuid.__doc__, "UUID object")

    def test_nil(self):
        self.assertEqual(repr(orvo.uuid()), NIL)
        for args in ((17,), (orvo.UUID_MAKE_V3,), (orvo.UUID_MAKE_V5, 3),
                     (orvo.UUID_MAKE_V4, "name"), ("not a uuid",), (2.5,), (None,)):
            self.assertEqual(repr(orvo.uuid(*args)), NIL, args)

    def test_generated_modes(self):
        for mode in (orvo.UUID_MAKE_V1, orvo.UUID_MAKE_V4):
            first, second = orvo.uuid(mode), orvo.uuid(mode)
            self.assertTrue(TEXT_FORM.match(repr(first)), repr(first))
            self.assertNotEqual(first, second)
            self.assertNotEqual(repr(first), NIL)
        self.assertEqual(repr(orvo.uuid(orvo.UUID_MAKE_V4))[14], "4")

    def test_named_modes(self):
        v5 = orvo.uuid(orvo.UUID_MAKE_V5, "http://example.org/")
        self.assertEqual(v5, orvo.uuid(orvo.UUID_MAKE_V5, "http://example.org/", "extra"))
        v3 = orvo.uuid(orvo.UUID_MAKE_V3, "http://example.org/")
        self.assertNotEqual(v5, v3)
        self.assertEqual(repr(v5)[14], "5")
        self.assertEqual(repr(v3)[14], "3")
        # The whole name counts, however long (see test_values_and_names).
        long_name = "n" * 1023
        self.assertNotEqual(orvo.uuid(orvo.UUID_MAKE_V5, long_name),
                            orvo.uuid(orvo.UUID_MAKE_V5, long_name + "tail"))

    def test_text_round_trip_and_order(self):
        u = orvo.uuid(orvo.UUID_MAKE_V4)
        self.assertEqual(orvo.uuid(repr(u)), u)
        self.assertEqual(orvo.uuid(repr(u) + "trailing"), u)
        low = orvo.uuid("00000000-0000-0000-0000-000000000001")
        high = orvo.uuid("00000000-0000-0000-0000-000000000002")
        self.assertTrue(low < high and high > low and low != high)
        self.assertTrue(orvo.uuid() < low)

    def test_reduce_and_pickle(self):
        u = orvo.uuid(orvo.UUID_MAKE_V1)
        self.assertEqual(u.__reduce__(), (orvo.uuid, (repr(u),)))
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            self.assertEqual(pickle.loads(pickle.dumps(u, protocol)), u)

    def test_hash_by_value(self):
        u = orvo.uuid(orvo.UUID_MAKE_V4)
        copy = orvo.uuid(repr(u))
        self.assertEqual(hash(u), hash(copy))
        self.assertEqual(len(set([u, copy, orvo.uuid()])), 2)


if __name__ == "__main__":
    unittest.main()

"""The documentation in docs/ names everything the module and the command
offer, and quotes the module's own doc strings, so neither can drift."""
import os
import re
import sys
import unittest

import orvo

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")
CONVENIENCES = ("__enter__", "__exit__", "__iter__", "__len__", "__getitem__")


def read_doc(name):
    with open(os.path.join(DOCS, name)) as doc:
        return doc.read()


def flowed(text):
    """The text with every run of white space made one blank, as a reader sees it."""
    return " ".join(text.split())


class ApiReferenceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.api = read_doc("api.md")
        cls.flowed_api = flowed(cls.api)

    def assertQuoted(self, doc, where):
        self.assertTrue('"%s"' % flowed(doc) in self.flowed_api,
                        "doc string of %s is not quoted in docs/api.md" % where)

    def test_module_functions_and_their_doc_strings(self):
        functions = [n for n in dir(orvo) if callable(getattr(orvo, n)) and not n.startswith("_")
                     and not isinstance(getattr(orvo, n), type)]
        self.assertEqual(len(functions), 12)
        for name in functions:
            self.assertTrue("`%s(" % name in self.api, "function %s is missing" % name)
            self.assertQuoted(getattr(orvo, name).__doc__, name)
        self.assertQuoted(orvo.__doc__, "the module")

    def test_constants_with_their_values(self):
        table = dict(re.findall(r"^\| `([A-Z0-9_]+)` \| (\d+) \|", self.api, re.M))
        constants = [n for n in dir(orvo) if n.isupper() and isinstance(getattr(orvo, n), int)]
        self.assertTrue(len(constants) >= 40)
        for name in constants:
            self.assertIn(name, table, "constant %s is missing from the table" % name)
            self.assertEqual(int(table[name]), getattr(orvo, name), name)

    def test_types(self):
        for kind in (orvo.image, orvo.movie, orvo.uuid):
            instance = kind()
            # The type's summary line; help() may show more below it.
            self.assertQuoted(kind.__doc__.strip().splitlines()[0], kind.__name__)
            names = list(getattr(instance, "__members__", [])) + list(getattr(instance, "__methods__", []))
            names += [n for n in dir(kind) if not n.startswith("_")]
            names += [n for n in CONVENIENCES if hasattr(kind, n)]
            for name in set(names):
                self.assertTrue("`%s" % name in self.api, "%s.%s is missing from docs/api.md" % (kind.__name__, name))
            for name in getattr(instance, "__methods__", []):
                self.assertQuoted(getattr(instance, name).__doc__, "%s.%s" % (kind.__name__, name))
        self.assertQuoted(orvo.uuid().__reduce__.__doc__, "uuid.__reduce__")

    def test_links_between_documents_resolve(self):
        for name in os.listdir(DOCS):
            for target in re.findall(r"\]\(([\w.-]+\.md)", read_doc(name)):
                self.assertTrue(os.path.exists(os.path.join(DOCS, target)), "%s links to %s" % (name, target))


@unittest.skipIf(sys.version_info[0] < 3, "the orvo command is a Python 3 program")
class CommandReferenceTest(unittest.TestCase):
    def test_every_subcommand_and_option_is_documented(self):
        from orvo.cli.main import build_parser
        import argparse
        reference = read_doc("command.md")
        parser = build_parser()
        commands = [a for a in parser._actions if isinstance(a, argparse._SubParsersAction)][0]
        self.assertEqual(sorted(commands.choices), ["codecs", "convert", "diff", "frame", "info", "sheet", "stats"])
        for name, subparser in commands.choices.items():
            self.assertIn("## orvo %s" % name, reference)
            for action in subparser._actions:
                for flag in action.option_strings:
                    if flag.startswith("--") and flag != "--help":
                        self.assertIn("`%s" % flag, reference, "orvo %s %s" % (name, flag))


if __name__ == "__main__":
    unittest.main()

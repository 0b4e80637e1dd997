"""`orvo codecs`: the installed codec plug-ins and their options."""
import json

from .codecs import all_codecs


def add_parser(subparsers):
    parser = subparsers.add_parser(
        "codecs", help="list the codec plug-ins and their options",
        description="List the codec plug-ins found at start-up: name, description, "
                    "file suffixes, stereo and multi-image support, and every option "
                    "with its type, range and default.")
    parser.add_argument("--json", action="store_true", help="print the list as JSON")
    parser.set_defaults(run=run)


def run(args):
    codecs = all_codecs()
    if args.json:
        print(json.dumps([c.as_dict() for c in codecs], indent=2, sort_keys=True))
        return 0
    if not codecs:
        print("no codec plug-ins found (is QEV_UDILPATH or the install home right?)")
        return 0
    rows = [("NAME", "STEREO", "MULTI-IMAGE", "DESCRIPTION", "SUFFIXES")]
    rows += [(c.name, _yes(c.stereo), _yes(c.multi_image), c.description, " ".join(c.suffixes))
             for c in codecs]
    print(_table(rows))
    for codec in codecs:
        if not codec.options:
            continue
        print("")
        print("%s options:" % codec.name)
        option_rows = [("  OPTION", "TYPE", "RANGE", "DEFAULT", "MEANING")]
        option_rows += [("  " + o.name, o.type_name, o.range_text(), o.default_text(), o.label)
                        for o in codec.options]
        print(_table(option_rows))
    return 0


def _yes(flag):
    return "yes" if flag else "no"


def _table(rows):
    widths = [max(len(str(row[i])) for row in rows) for i in range(len(rows[0]))]
    lines = ["  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip()
             for row in rows]
    return "\n".join(lines)

#!/usr/bin/env python3
"""Puts the page together into one file: page.html with its styles, the
WebAssembly module (with the installer stub inside it), the worker's script
and the page's script put in where it names them.

    assemble.py SOURCE_DIR MODULE.js OUT.html
"""
import sys
from pathlib import Path


def main():
    source, module, out = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
    page = (source / "page.html").read_text()
    parts = {
        "/*STYLES*/": (source / "page.css").read_text(),
        # A script element ends at the first "</script", wherever it stands.
        "/*MODULE*/": module.read_text().replace("</script", "<\\/script"),
        "/*WORKER*/": (source / "worker.js").read_text(),
        "/*PAGE*/": (source / "page.js").read_text(),
    }
    for mark, text in parts.items():
        if page.count(mark) != 1:
            sys.exit(f"assemble.py: page.html must hold {mark} once")
        page = page.replace(mark, text)
    temporary = out.with_suffix(".tmp")
    temporary.write_text(page)
    temporary.replace(out)


if __name__ == "__main__":
    main()

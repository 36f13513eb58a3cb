#!/usr/bin/env python3
"""Writes the page as one file: index.html with tumble.js inlined and
tumble.wasm handed to it as Module.wasmBinary, so nothing is fetched and the
file runs from a double-click (file://) as well as from any host.
Usage: web-onefile.py INDEX_HTML TUMBLE_JS TUMBLE_WASM OUT_HTML"""
import base64
import os
import sys


def main():
    index_path, js_path, wasm_path, out_path = sys.argv[1:5]
    with open(index_path, encoding="utf-8") as f:
        page = f.read()
    with open(js_path, encoding="utf-8") as f:
        script = f.read()
    with open(wasm_path, "rb") as f:
        wasm = base64.b64encode(f.read()).decode("ascii")
    tag = '<script src="tumble.js"></script>'
    if page.count(tag) != 1:
        sys.exit("web-onefile: %s has no single %s" % (index_path, tag))
    # Inside a script element only "</script" would end it early.
    script = script.replace("</script", "<\\/script")
    inline = ("<script>\n(() => {\n  const text = atob('" + wasm + "');\n"
              "  const bytes = new Uint8Array(text.length);\n"
              "  for (let i = 0; i < text.length; ++i)\n"
              "    bytes[i] = text.charCodeAt(i);\n"
              "  Module.wasmBinary = bytes;\n})();\n</script>\n"
              "<script>\n" + script + "\n</script>")
    # Written beside the target and renamed over it: never a half-written page.
    partial = out_path + ".part"
    with open(partial, "w", encoding="utf-8") as f:
        f.write(page.replace(tag, inline))
    os.replace(partial, out_path)


if __name__ == "__main__":
    main()

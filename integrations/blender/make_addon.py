#!/usr/bin/env python3
"""The add-on as one zip to install in Blender (Preferences > Add-ons > Install): tessarin_cache/ with
the tessarin module it plays with inside it, built for the Python Blender runs.

  make_addon.py OUT.zip MODULE   (MODULE: a tessarin wheel, or the folder of a built tessarin package)
"""
import os
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def module_files(source):
    """(name inside the package, bytes) of the tessarin package in a wheel or a folder."""
    if source.endswith(".whl"):
        with zipfile.ZipFile(source) as wheel:
            return [(n[len("tessarin/"):], wheel.read(n)) for n in wheel.namelist()
                    if n.startswith("tessarin/") and not n.endswith("/")]
    out = []
    for name in sorted(os.listdir(source)):
        path = os.path.join(source, name)
        if os.path.isfile(path) and not name.endswith(".pyc"):
            with open(path, "rb") as f:
                out.append((name, f.read()))
    return out


def main(args):
    if len(args) != 2:
        print("usage: make_addon.py OUT.zip MODULE", file=sys.stderr)
        return 2
    out, source = args
    files = module_files(source)
    if not any(n.startswith("_tessarin") and n.endswith(".so") for n, _ in files):
        print(f"make_addon.py: {source}: no compiled tessarin module in it", file=sys.stderr)
        return 1
    addon = os.path.join(HERE, "tessarin_cache")
    with zipfile.ZipFile(out + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        # the folders as entries of their own: Blender's install over an installed add-on removes the
        # old one by the zip's top-level entries, and without them it writes over the files in place,
        # the compiled module a running Blender has loaded among them (which then crashes it)
        for folder in ("tessarin_cache/", "tessarin_cache/tessarin/"):
            z.writestr(zipfile.ZipInfo(folder), b"")
        written = 0
        for name in sorted(os.listdir(addon)):
            if name.endswith(".py"):
                z.write(os.path.join(addon, name), f"tessarin_cache/{name}")
                written += 1
        for name, data in files:
            z.writestr(f"tessarin_cache/tessarin/{name}", data)
        written += len(files)
    os.replace(out + ".tmp", out)
    # every file in the zip: the add-on's own and the module's
    print(f"make_addon.py: wrote {out} (the add-on and the tessarin module, {written} files)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Makes the seed corpora of the playback and scene fuzz targets from valid files in the repository.

usage: fuzz/make_seeds.py   (run from anywhere; rewrites fuzz/corpus/playback and fuzz/corpus/scene)
"""
import json
import pathlib
import struct

root = pathlib.Path(__file__).resolve().parent.parent
corpus = root / "fuzz" / "corpus"


def params(selection_type, flags, strength, time, verts, tpf_choice, times):
    """The 28 bytes fuzz_playback.cpp reads before the file."""
    return (struct.pack("<bB", selection_type, flags) + struct.pack("<ff", strength, time)
            + bytes([verts, tpf_choice]) + struct.pack("<4i", *times))


def playback_seeds():
    out = corpus / "playback"
    out.mkdir(parents=True, exist_ok=True)
    settings = {
        "replace_panel": params(0, 2, 1.0, 0.0, 3, 0, (0, 80, 200, 400)),
        "add_relative": params(1, 3, 2.0, 0.5, 3, 0, (-160, 40, 120, 9999)),
        "subtract_more_verts": params(2, 2, 1.0, 0.0, 9, 0, (0, 160, 160, 320)),
        "fallback_one_tick": params(0, 4, 1.0, 0.0, 2, 1, (0, 1, 2, 3)),
    }
    for cache in sorted((corpus / "cache_file").glob("*.sel")):
        data = cache.read_bytes()
        for name, head in settings.items():
            (out / f"{cache.stem}_{name}").write_bytes(head + data)


def scene_seeds():
    out = corpus / "scene"
    out.mkdir(parents=True, exist_ok=True)
    for source in [root / "docs" / "examples" / "demo.json", root / "tests" / "data" / "keys.json"]:
        scene = json.loads(source.read_text())
        # paths stay inside the fuzzer's folder
        for node in scene.get("nodes", []):
            for mod in node.get("modifiers", []):
                params = mod.get("params", {})
                if "cache_file" in params:
                    params["cache_file"] = pathlib.PurePath(params["cache_file"]).name
        scene.pop("directories", None)
        (out / source.stem).write_text(json.dumps(scene, indent=1))
    (out / "every_class").write_text(json.dumps({
        "ticksPerFrame": 4800, "animationRangeTicks": [0, 9600], "currentTick": 4800, "quiet": True,
        "nodes": [{
            "name": "Grid", "mesh": {"grid": {"width": 2, "length": 2, "rows": 2, "cols": 3}},
            "selection": {"selected": [0], "weights": [0.5] * 12},
            "modifiers": [
                {"class": "SoftSelect", "center": [{"frame": 0, "at": [0, 0, 0]}, {"tick": 9600, "at": [1, 1, 0]}],
                 "radius": 0.5, "falloff": 1.0},
                {"class": "Trim", "keys": [{"frame": 1, "count": 6}], "enabled": False},
                {"class": "Tessarin", "id": "t", "params": {"cache_file": "x.sel", "strength": [
                    {"frame": 0, "value": 1.0}, {"frame": 2, "value": 0.0}], "relativeOffset": True,
                    "selectionType": 1}}],
            "worldModifiers": [{"class": "SelectKeys", "keys": [{"tick": 0, "selected": [1, 2]}]}]},
            {"name": "Other", "mesh": {"vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "faces": [[0, 1, 2]]},
             "modifiers": [{"instance": "t"}]}]}, indent=1))


playback_seeds()
scene_seeds()

"""A frame change in headless Blender: the Tessarin Cache add-on beside Blender's own Mesh Cache
modifier playing a PC2 file of the same vertex count, in the same run, at 40,000 and 1,000,000
vertices, on grids of quads (as scenes have them) and on vertices alone. The add-on's outputs (the
vertex group through Geometry Nodes, the default; the float attribute; the group set directly, for
weights of 97 values, a radial falloff and all distinct), and the floors under the first two: the
add-on's nodes modifier storing an unchanging attribute into the group, or passing the mesh on,
evaluated at every frame with nothing played. Each case has an
object of its own, alone in the scene while it is timed. A frame change is frame_set plus the
evaluated depsgraph, in processor time of the whole process (all of Blender's threads), so that
other programs on a shared machine do not count; median.

  blender -b --factory-startup --python bench/blender_bench.py -- ADDON_ZIP [VERTICES...] [--faces-only]
"""
import contextlib
import io
import os
import struct
import sys
import tempfile
import time

import bpy
import numpy as np

ADDON, *rest = sys.argv[sys.argv.index("--") + 1:]
SIZES = tuple(int(a) for a in rest if not a.startswith("--")) or (40_000, 1_000_000)
MESHES = ("faces",) if "--faces-only" in rest else ("faces", "vertices only")
FRAMES = 16
COLUMNS = 1000
folder = tempfile.mkdtemp()

# Blender's installer says "addon_utils.disable: tessarin_cache not disabled" of an add-on new to it
with contextlib.redirect_stdout(io.StringIO()):
    bpy.ops.preferences.addon_install(filepath=ADDON)
bpy.ops.preferences.addon_enable(module="tessarin_cache")
from tessarin_cache import module, playback  # noqa: E402  (the module the add-on carries)

tessarin = module.tessarin
for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
scene = bpy.context.scene


def points(n):
    i = np.arange(n)
    co = np.zeros((n, 3), np.float32)
    co[:, 0], co[:, 1] = i % 1000, i // 1000
    return co


def mesh_object(name, n, topology):
    mesh = bpy.data.meshes.new(name)
    mesh.vertices.add(n)
    mesh.vertices.foreach_set("co", points(n).ravel())
    if topology == "faces":  # a quad between every four neighbours of the grid
        rows = n // COLUMNS
        corner = (np.arange(rows - 1)[:, None] * COLUMNS + np.arange(COLUMNS - 1)[None, :]).ravel()
        quads = np.stack([corner, corner + 1, corner + COLUMNS + 1, corner + COLUMNS], axis=1).astype(np.int32)
        mesh.loops.add(quads.size)
        mesh.loops.foreach_set("vertex_index", quads.ravel())
        mesh.polygons.add(len(quads))
        mesh.polygons.foreach_set("loop_start", np.arange(0, quads.size, 4, dtype=np.int32))
        mesh.polygons.foreach_set("loop_total", np.full(len(quads), 4, np.int32))
        mesh.update(calc_edges=True)
        mesh.validate()
    obj = bpy.data.objects.new(name, mesh)
    scene.collection.objects.link(obj)
    return obj


def pattern(kind, n, k):
    """Sample k's weights: 97 values; a radial falloff moving across the grid (a few per cent of the
    weights distinct); every weight distinct."""
    i = np.arange(n)
    if kind == "97 values":
        return ((i * 7 + k * 13) % 97).astype(np.float32) / np.float32(96.0)
    if kind == "falloff":
        co = points(n)
        r = np.hypot(co[:, 0] - (300 + 20 * k), co[:, 1] - co[:, 1].max() / 2) / 250
        return np.clip(1 - r, 0, 1).astype(np.float32) ** 2
    return ((i + k) % n).astype(np.float32) / np.float32(n)


def write_sel(path, n, kind):
    with tessarin.Writer(path, 1, overwrite=True) as w:
        for k in range(FRAMES):
            w.append(pattern(kind, n, k))


def write_pc2(path, n):
    co = points(n)
    with open(path, "wb") as f:
        f.write(b"POINTCACHE2\0" + struct.pack("<iiffi", 1, n, 0.0, 1.0, FRAMES))
        for k in range(FRAMES):
            co[:, 2] = k * 0.01
            f.write(co.tobytes())


def frame_change(f):
    t0 = time.process_time()
    scene.frame_set(f)
    bpy.context.evaluated_depsgraph_get()
    return time.process_time() - t0


def timed(n, slow=False):
    reps = 3 if slow else max(7, min(40, 2_000_000 // n))
    times = []
    for r in range(reps):
        frame_change(0)  # untimed: from a held frame to a new one every time
        times.append(frame_change(1 + r % (FRAMES - 2)))
    return float(np.median(times)) * 1000


def floor_handler(mesh, weights):
    """The floor under an output: the attribute written once and the nodes modifier's tree (storing it
    into the group, or passing the geometry on), which Blender evaluates at every frame; a frame handler
    doing nothing."""
    attribute = mesh.attributes.new(playback.PLAYED, 'FLOAT', 'POINT')
    attribute.data.foreach_set("value", weights)

    def handler(scene, depsgraph=None):
        pass
    return handler


CASES = [("Mesh Cache", None), ("floor: group through nodes", "floor NODES"),
         ("floor: float attribute", "floor ATTRIBUTE"), ("add-on, group through nodes (default)", "NODES"),
         ("add-on, float attribute", "ATTRIBUTE"), ("add-on, group direct", "DIRECT")]
KINDS = ("97 values", "falloff", "all distinct")


def run_case(n, topology, name, output, kind, sel, pc2):
    obj = mesh_object(name, n, topology)
    handler = None
    if output is None:
        cache = obj.modifiers.new("MeshCache", 'MESH_CACHE')
        cache.cache_format, cache.filepath, cache.frame_start = 'PC2', pc2, 0
    elif output.startswith("floor"):
        obj.vertex_groups.new(name="Tessarin")
        nodes = output.endswith("NODES")
        handler = floor_handler(obj.data, pattern(kind, n, 3))
        playback.nodes_modifier(obj, "Tessarin" if nodes else None)
        bpy.app.handlers.frame_change_pre.append(handler)
    else:
        settings = obj.data.tessarin_cache
        settings.filepath, settings.output = sel, output
        settings.enabled = True
    ms = timed(n, slow=output == "DIRECT" and n > 100_000)
    if handler:
        bpy.app.handlers.frame_change_pre.remove(handler)
    mesh = obj.data
    bpy.data.objects.remove(obj)
    bpy.data.meshes.remove(mesh)
    return ms


print("| vertices | mesh | weights | case | ms per frame | × Mesh Cache | × floor |")
print("|---:|---|---|---|---:|---:|---:|")
for n in SIZES:
    pc2 = os.path.join(folder, f"{n}.pc2")
    write_pc2(pc2, n)
    for topology in MESHES:
        base, floors = None, {}
        for kind in KINDS:
            sel = os.path.join(folder, f"{n}-{kind}.sel")
            write_sel(sel, n, kind)
            distinct = len(np.unique(pattern(kind, n, 3)))
            for name, output in CASES:
                if kind != "97 values" and output not in ("DIRECT", "NODES"):
                    continue  # the other cases cost the same whatever the weights
                if output is None and base is not None:
                    continue
                ms = run_case(n, topology, name, output, kind, sel, pc2)
                base = base or ms
                if output and output.startswith("floor"):
                    floors[output.split()[1]] = ms
                floor = floors.get(output)
                print(f"| {n:,} | {topology} | {kind} ({distinct:,} distinct) | {name} | {ms:.2f} | {ms / base:.2f} | "
                      f"{f'{ms / floor:.2f}' if floor else ''} |", flush=True)
            os.remove(sel)

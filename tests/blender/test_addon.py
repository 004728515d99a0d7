"""The Tessarin Cache add-on in a real, headless Blender, installed from its zip into an empty
configuration: a cache recorded by `vomark record` plays onto a vertex group with the weights
`vomark eval` gives, reaches Blender's own modifiers, survives saving and reopening, follows a file
re-recorded while it plays, keeps linked duplicates, Edit Mode and linked data intact, tells a farm
what it plays, and reports missing, damaged and mismatched files on its status line.

Run by run_blender_test.sh:
  blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- VOMARK PLUGINS ADDON WORK PREFLIGHT
"""
import contextlib
import io
import json
import os
import shutil
import subprocess
import sys
import time
import traceback

import bpy
import numpy as np

VOMARK, PLUGINS, ADDON, WORK, PREFLIGHT = sys.argv[sys.argv.index("--") + 1:]
ROWS, COLS, LAST = 20, 20, 48
N = (ROWS + 1) * (COLS + 1)
GROUP = "Sweep"
failures = []
checks = [0]


def check(ok, what):
    checks[0] += 1
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def vomark(*args):
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    return subprocess.run([VOMARK, *args, "--plugins", PLUGINS, "--quiet"], check=True, capture_output=True,
                          text=True, env=env).stdout


def scene_file(name, modifiers, rows=ROWS):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        json.dump({"ticksPerFrame": 160, "animationRange": [0, LAST], "quiet": True,
                   "nodes": [{"name": "Grid", "mesh": {"grid": {"width": 10, "length": 10, "rows": rows, "cols": COLS}},
                              "modifiers": modifiers}]}, f)
    return path


def record(name, rows=ROWS):
    cache = os.path.join(WORK, name)
    sweep = {"class": "SoftSelect", "center": [{"frame": 0, "at": [-6, -2, 0]}, {"frame": LAST, "at": [6, 3, 0]}],
             "radius": 1.5, "falloff": 3}
    vomark("record", scene_file(name + ".json", [sweep, {"class": "Tessarin", "params": {
        "cache_file": cache, "samples": 2, "start_time": 0, "end_time": LAST}}], rows))
    return cache


def incoming_weights():
    # the group's weights before the cache: a pattern with exact ones and zeros
    return np.array([((i * 7) % 11) / 10 for i in range(N)], dtype=np.float32)


def expected(cache, frames, settings):
    keys = [{"frame": -1000, "selected": [], "weights": [float(w) for w in incoming_weights()]}]
    params = {"cache_file": cache, "time": settings["start"], "relativeOffset": settings["relative_offset"],
              "strength": settings["strength"], "selectionType": settings["type"]}
    scene = scene_file("eval.json", [{"class": "SelectKeys", "keys": keys}, {"class": "Tessarin", "params": params}])
    args = ["eval", scene, "--format", "json"]
    for f in frames:
        args += ["--frame", repr(float(f))]
    out = []
    for e in json.loads(vomark(*args)):
        w = np.array([1.0 if v["selected"] else v["weight"] for v in e["vertices"]], dtype=np.float32)
        out.append(w)
    return out


def grid_mesh(name):
    verts = [(-5 + 10 * c / COLS, -5 + 10 * r / ROWS, 0.0) for r in range(ROWS + 1) for c in range(COLS + 1)]
    faces = []
    for r in range(ROWS):
        for c in range(COLS):
            a = r * (COLS + 1) + c
            faces.append((a, a + 1, a + COLS + 2, a + COLS + 1))
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata(verts, [], faces)
    return mesh


def grid_object():
    obj = bpy.data.objects.new("Grid", grid_mesh("Grid"))
    bpy.context.scene.collection.objects.link(obj)
    group = obj.vertex_groups.new(name=GROUP)
    for i, w in enumerate(incoming_weights().tolist()):
        group.add([i], w, 'REPLACE')
    return obj


def group_state(obj, name):
    """The group's weights (0 outside it) and its members."""
    index = obj.vertex_groups[name].index
    weights = np.zeros(len(obj.data.vertices), dtype=np.float32)
    members = np.zeros(len(obj.data.vertices), dtype=bool)
    for v in obj.data.vertices:
        for g in v.groups:
            if g.group == index:
                weights[v.index], members[v.index] = g.weight, True
    return weights, members


def group_weights(obj):
    return group_state(obj, obj.data.tessarin_cache.group)[0]


def set_frame(f):
    whole = int(np.floor(f))
    bpy.context.scene.frame_set(whole, subframe=f - whole)


FRAMES = [0, 12, 12.5, 37.25, LAST]


def test_plays_the_weights_vomark_eval_gives(obj, cache):
    cases = [{"start": 0.0, "relative_offset": False, "strength": 1.0, "type": 0},
             {"start": 2.0, "relative_offset": True, "strength": 0.5, "type": 1},
             {"start": -1.0, "relative_offset": False, "strength": 1.0, "type": 2}]
    for settings in cases:
        s = obj.data.tessarin_cache
        s.start, s.relative_offset, s.strength = settings["start"], settings["relative_offset"], settings["strength"]
        s.selection_type = ("REPLACE", "ADD", "SUBTRACT")[settings["type"]]
        for frame, want in zip(FRAMES, expected(cache, FRAMES, settings)):
            set_frame(frame)
            got = group_weights(obj)
            inside = (want >= 0) & (want <= 1)
            where = f"{settings} frame {frame}"
            check(np.array_equal(got[inside].view(np.uint32), want[inside].view(np.uint32)),
                  f"{where}: weights inside 0..1 bit for bit ({int((got[inside] != want[inside]).sum())} differ)")
            check(np.array_equal(got[~inside], np.clip(want[~inside], 0, 1)), f"{where}: the rest clamped")
        check("98 samples, frames" in s.status, f"status after playing: {s.status!r}")


def test_weights_reach_blenders_own_modifiers(obj):
    s = obj.data.tessarin_cache
    s.start, s.relative_offset, s.selection_type = 0.0, False, "REPLACE"
    displace = obj.modifiers.new("Displace", 'DISPLACE')
    displace.vertex_group, displace.strength, displace.mid_level, displace.direction = GROUP, 2.0, 0.0, 'Z'
    for frame in (12.5, 37.25):
        set_frame(frame)
        weights = group_weights(obj)
        evaluated = obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).data
        z = np.array([v.co.z for v in evaluated.vertices])
        check(np.allclose(z, weights * 2.0, atol=1e-6), f"frame {frame}: Displace moves each vertex by weight x 2")
        check(weights.max() > 0.5, f"frame {frame}: the sweep is on the grid")
    obj.modifiers.remove(displace)


def test_reports_files_that_cannot_play(obj, cache, smaller):
    s = obj.data.tessarin_cache
    set_frame(12)
    before = group_weights(obj)
    damaged = os.path.join(WORK, "damaged.sel")
    with open(damaged, "wb") as f:
        f.write(open(cache, "rb").read()[:100])
    # a scene picked by mistake is no cache at all, not a damaged one
    for path, text in ((os.path.join(WORK, "absent.sel"), "cannot open"), (damaged, "damaged.sel: byte "),
                       (WORK, "is a folder"), (cache + ".json", "sweep.sel.json: byte 4: not a .sel cache")):
        s.filepath = path
        set_frame(13)
        check(text in s.status, f"{path}: status {s.status!r} names the reason")
        check(np.array_equal(group_weights(obj), before), f"{path}: the group keeps its weights")
    s.filepath = smaller
    set_frame(14)
    check(s.status == f"vertex count {N}, cache has {(ROWS) * (COLS + 1)}", f"mismatch status {s.status!r}")
    s.filepath = cache
    set_frame(12)
    check("samples" in s.status, f"back to a good file: {s.status!r}")


def played_output(obj, output):
    """What an output gives Blender's evaluation: the evaluated group, or the float attribute."""
    if output != 'ATTRIBUTE':
        return evaluated_group_weights(obj)
    mesh = obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).data
    out = np.empty(len(mesh.vertices), np.float32)
    mesh.attributes["tessarin_played"].data.foreach_get("value", out)
    return out


def evaluated_group_weights(obj):
    index = obj.vertex_groups[obj.data.tessarin_cache.group].index
    mesh = obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).data
    out = np.zeros(len(mesh.vertices), dtype=np.float32)
    for v in mesh.vertices:
        for g in v.groups:
            if g.group == index:
                out[v.index] = g.weight
    return out


def test_through_nodes_the_evaluated_group_gets_the_same_weights(obj, cache):
    s = obj.data.tessarin_cache
    s.start, s.relative_offset, s.strength, s.selection_type = 2.0, True, 0.5, "ADD"
    settings = {"start": 2.0, "relative_offset": True, "strength": 0.5, "type": 1}
    displace = obj.modifiers.new("Displace", 'DISPLACE')
    displace.vertex_group, displace.strength, displace.mid_level, displace.direction = GROUP, 2.0, 0.0, 'Z'
    s.output = 'NODES'
    check(obj.modifiers[0].type == 'NODES', "the Geometry Nodes modifier is at the bottom of the stack")
    frames = [12.5, 37.25]
    for frame, want in zip(frames, expected(cache, frames, settings)):
        set_frame(frame)
        got = evaluated_group_weights(obj)
        check(np.array_equal(got.view(np.uint32), np.clip(want, 0, 1).view(np.uint32)),
              f"through nodes, frame {frame}: the evaluated group holds the played weights, clamped")
        check(np.array_equal(group_weights(obj), incoming_weights()),
              f"through nodes, frame {frame}: the mesh's own group keeps its weights")
        mesh = obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).data
        z = np.array([v.co.z for v in mesh.vertices])
        check(np.allclose(z, got * 2.0, atol=1e-6), f"through nodes, frame {frame}: Displace sees them")
    s.output = 'ATTRIBUTE'
    check(obj.modifiers[0].node_group.name == "Tessarin Cache (attribute)",
          "the float attribute: the modifier only has the object evaluated at every frame")
    for frame, want in zip(frames, expected(cache, frames, settings)):
        set_frame(frame)
        played = np.empty(N, np.float32)
        obj.data.attributes["tessarin_played"].data.foreach_get("value", played)
        check(np.array_equal(played.view(np.uint32), want.view(np.uint32)), "the float attribute: unclamped, every bit")
        check(np.array_equal(played_output(obj, 'ATTRIBUTE').view(np.uint32), want.view(np.uint32)),
              f"the float attribute, frame {frame}: the evaluated mesh has it")
    check(np.array_equal(group_weights(obj), incoming_weights()), "the float attribute: the group keeps its own")
    s.output = 'DIRECT'
    check(all(m.type != 'NODES' for m in obj.modifiers), "back to the group: the nodes modifier is gone")
    obj.modifiers.remove(displace)


def test_switching_off_restores_the_groups_own_weights(obj):
    obj.data.tessarin_cache.enabled = False
    check(np.array_equal(group_weights(obj), incoming_weights()), "off: the group's weights from before")
    obj.data.tessarin_cache.enabled = True


def test_settings_survive_saving_and_reopening(cache):
    set_frame(12.5)
    obj = bpy.data.objects["Grid"]
    played = group_weights(obj)
    path = os.path.join(WORK, "saved.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    obj = bpy.data.objects["Grid"]
    s = obj.data.tessarin_cache
    check(s.enabled and s.filepath == cache and s.group == GROUP, "settings kept in the .blend file")
    set_frame(30)
    set_frame(12.5)
    check(np.array_equal(group_weights(obj), played), "reopened: plays the same weights")
    # a path relative to the .blend file (Blender's //), wherever Blender was started
    s.filepath = "//" + os.path.basename(cache)
    set_frame(30)
    set_frame(12.5)
    check(s.status.startswith("98 samples") and np.array_equal(group_weights(obj), played),
          f"a // path plays the file beside the .blend file: {s.status!r}")


def write_constant(path, samples, value):
    from tessarin_cache import module
    with module.tessarin.Writer(path + ".new", 1, overwrite=True) as w:
        for _ in range(samples):
            w.append(np.full(N, value, np.float32))
    return path + ".new"


def test_a_file_re_recorded_while_it_plays_plays_anew(obj, cache):
    s = obj.data.tessarin_cache
    live = os.path.join(WORK, "live.sel")
    shutil.copy(cache, live)
    s.filepath, s.start, s.relative_offset, s.selection_type = live, 0.0, False, "REPLACE"
    set_frame(12)
    check(s.status.startswith("98 samples"), f"before: {s.status!r}")
    time.sleep(0.02)
    with open(live, "r+b") as f:  # rewritten in place, as a recorder writing over it does
        f.truncate(0)
        f.write(open(write_constant(live, 5, 0.25), "rb").read())
    set_frame(3)
    check(s.status == "5 samples, frames 0 to 4", f"rewritten in place: {s.status!r}")
    check(np.all(group_weights(obj) == np.float32(0.25)), "rewritten in place: the new weights play")
    time.sleep(0.02)
    os.replace(write_constant(live, 7, 0.5), live)  # replaced by rename, as a tool saving safely does
    set_frame(4)
    check(s.status == "7 samples, frames 0 to 6", f"replaced: {s.status!r}")
    check(np.all(group_weights(obj) == np.float32(0.5)), "replaced: the new weights play")
    s.filepath = cache


def test_a_group_changed_while_playing_gives_every_group_back(cache):
    for output in ('DIRECT', 'NODES'):
        obj = bpy.data.objects.new("Swap", grid_mesh("Swap"))
        bpy.context.scene.collection.objects.link(obj)
        for name, weight in (("A", 0.25), ("B", 0.75)):
            obj.vertex_groups.new(name=name).add(range(N), weight, 'REPLACE')
        s = obj.data.tessarin_cache
        s.group, s.filepath, s.output = "A", cache, output
        s.enabled = True
        set_frame(10)
        s.group = "B"
        set_frame(20)
        check(np.all(group_state(obj, "A")[0] == np.float32(0.25)), f"{output}: A has its own back while B plays")
        played = evaluated_group_weights(obj)
        check(not np.all(played == np.float32(0.75)), f"{output}: B plays")
        s.enabled = False
        for name, weight in (("A", 0.25), ("B", 0.75)):
            weights, members = group_state(obj, name)
            check(members.all() and np.all(weights == np.float32(weight)),
                  f"{output}, off: {name} as before ({sorted(set(weights.tolist()))[:4]})")
        mesh = obj.data
        bpy.data.objects.remove(obj)
        bpy.data.meshes.remove(mesh)


def test_linked_duplicates_share_one_driver_and_get_their_group_back(cache):
    mesh = grid_mesh("Shared")
    a, b = bpy.data.objects.new("A", mesh), bpy.data.objects.new("B", mesh)
    for o in (a, b):
        bpy.context.scene.collection.objects.link(o)
        o.vertex_groups.new(name="Members")
    # a group of 100 members with weights of their own, the rest outside it
    members = np.zeros(N, bool)
    members[np.arange(0, N, N // 100)[:100]] = True
    for i in np.flatnonzero(members).tolist():
        a.vertex_groups["Members"].add([i], (i % 13) / 12, 'REPLACE')
    before = group_state(a, "Members")
    s = mesh.tessarin_cache
    s.group = "Members"
    other = write_constant(os.path.join(WORK, "other.sel"), 5, 0.5)
    for output in ('DIRECT', 'NODES'):
        s.filepath, s.output = cache, output
        s.enabled = True
        set_frame(3)
        # another file while it plays, switched on again from the other object: nothing new is kept
        s.filepath = other
        s.enabled = True
        set_frame(4)
        check(s.status == "5 samples, frames 0 to 4", f"{output}: the other file plays: {s.status!r}")
        s.filepath = cache
        set_frame(12.5)
        check("samples" in s.status, f"{output}: plays: {s.status!r}")
        if output == 'NODES':
            check(all(o.modifiers[0].type == 'NODES' for o in (a, b)), "both objects store the played weights")
        else:
            check(np.array_equal(group_state(a, "Members")[0], group_state(b, "Members")[0]),
                  "both objects show the one mesh's weights")
        s.enabled = False
        s.enabled = False  # from each object: twice
        for o in (a, b):
            got = group_state(o, "Members")
            check(np.array_equal(got[1], before[1]), f"{output}, off, {o.name}: the members as before "
                  f"({int(got[1].sum())}, not {int(before[1].sum())})")
            check(np.array_equal(got[0], before[0]), f"{output}, off, {o.name}: the weights as before")
            check(all(m.type != 'NODES' for m in o.modifiers), f"{output}, off, {o.name}: no nodes modifier")
    for o in (a, b):
        bpy.data.objects.remove(o)


def test_edit_mode_pauses_and_leaving_it_plays(obj):
    s = obj.data.tessarin_cache
    bpy.context.view_layer.objects.active = obj
    bpy.ops.object.mode_set(mode='EDIT')
    set_frame(20)
    check(s.status.startswith("paused in Edit Mode"), f"in Edit Mode: {s.status!r}")
    bpy.ops.object.mode_set(mode='OBJECT')
    bpy.context.evaluated_depsgraph_get()
    check("samples" in s.status, f"out of Edit Mode it plays again: {s.status!r}")
    set_frame(12)
    # switched off in Edit Mode, where no script may change a group's members: it waits, and says so
    bpy.ops.object.mode_set(mode='EDIT')
    s.enabled = False
    check(s.status.startswith("switched off in Edit Mode"), f"off in Edit Mode: {s.status!r}")
    bpy.ops.object.mode_set(mode='OBJECT')
    bpy.context.evaluated_depsgraph_get()
    weights, members = group_state(obj, GROUP)
    check(s.status == "off" and members.all() and np.array_equal(weights, incoming_weights()),
          f"out of Edit Mode the group has its own weights back: {s.status!r}")
    check("tessarin_incoming" not in obj.data.attributes, "and the copies are gone")
    s.enabled = True
    set_frame(12)
    s.enabled = False
    check(np.array_equal(group_state(obj, GROUP)[0], incoming_weights()), "on and off again: still its own")
    s.enabled = True
    set_frame(12)


def blender(*args, **env_changes):
    env = dict(os.environ, **env_changes)
    return subprocess.run([bpy.app.binary_path, "-b", *args], capture_output=True,
                          text=True, env=env)


def test_a_farm_sees_what_plays_and_the_preflight_check_says_so(cache):
    shot = os.path.join(WORK, "shot.blend")
    bpy.ops.wm.save_as_mainfile(filepath=shot, copy=True)
    missing = os.path.join(WORK, "missing.blend")
    s = bpy.data.objects["Grid"].data.tessarin_cache
    s["filepath"] = os.path.join(WORK, "absent.sel")  # no update: the file alone says it
    bpy.ops.wm.save_as_mainfile(filepath=missing, copy=True)
    s.filepath = cache
    empty = os.path.join(WORK, "empty.blend")
    bpy.ops.wm.read_homefile(use_empty=True)
    bpy.ops.wm.save_as_mainfile(filepath=empty)
    cases = [((shot, "--python", PREFLIGHT), 1, "the add-on tessarin_cache is not enabled"),
             ((shot, "--addons", "tessarin_cache", "--python", PREFLIGHT), 0, "1 cache(s), 0 cannot play"),
             ((missing, "--addons", "tessarin_cache", "--python", PREFLIGHT), 1, "absent.sel"),
             ((empty, "--python", PREFLIGHT), 0, "0 cache(s)")]
    for args, code, text in cases:
        run = blender(*args)
        check(run.returncode == code, f"preflight {args}: exit {run.returncode}, not {code}\n{run.stdout[-800:]}")
        check(text in run.stdout, f"preflight {args}: says {text!r}")
    run = blender(shot, "--addons", "tessarin_cache", "--python-expr",
                  "import bpy; bpy.context.scene.frame_set(3); bpy.context.scene.frame_set(4)")
    check(run.stderr.count(f"tessarin_cache: Grid: plays {cache}: 98 samples") == 1,
          f"under -b one line per object that plays: {run.stderr[-800:]!r}")
    run = blender(missing, "--addons", "tessarin_cache", "--python-expr", "import bpy; bpy.context.scene.frame_set(3)")
    check("tessarin_cache: Grid: cannot play" in run.stderr and "absent.sel" in run.stderr,
          f"under -b one line per object that cannot play: {run.stderr[-800:]!r}")


def test_installing_over_the_running_add_on_quits_cleanly():
    # a TD updating the add-on in a session that has played with it: the new zip's files must not be
    # written over the compiled module that session has loaded
    home = os.path.join(WORK, "reinstall")
    install = (f"import bpy; bpy.ops.preferences.addon_install(filepath={ADDON!r}, overwrite=True); "
               "bpy.ops.preferences.addon_enable(module='tessarin_cache'); ")
    run = blender("--factory-startup", "--python-expr", install + "import tessarin_cache.tessarin; " + install,
                  BLENDER_USER_SCRIPTS=os.path.join(home, "scripts"), BLENDER_USER_CONFIG=os.path.join(home, "config"))
    check(run.returncode == 0 and "tessarin_cache" in run.stdout,
          f"install, enable, install again, quit: exit {run.returncode}\n{run.stdout[-400:]}{run.stderr[-400:]}")


def test_linked_data_is_never_written_and_overrides_keep_their_settings(cache):
    library = os.path.join(WORK, "library.blend")
    bpy.ops.wm.open_mainfile(filepath=os.path.join(WORK, "saved.blend"))
    bpy.ops.wm.save_as_mainfile(filepath=library, copy=True)
    bpy.ops.wm.read_homefile(use_empty=True)
    with bpy.data.libraries.load(library, link=True) as (src, dst):
        dst.objects = ["Grid"]
    linked = dst.objects[0]
    bpy.context.scene.collection.objects.link(linked)
    weights = group_weights(linked)
    set_frame(30)
    check(np.array_equal(group_weights(linked), weights), "linked data: the add-on wrote nothing into it")
    shot = os.path.join(WORK, "linked.blend")
    bpy.ops.wm.save_as_mainfile(filepath=shot, copy=True)
    override = linked.override_create(remap_local_usages=True)
    override.data = linked.data.override_create(remap_local_usages=True)
    s = override.data.tessarin_cache
    s.start, s.relative_offset, s.selection_type = 3.0, False, "REPLACE"
    want = expected(cache, [20], {"start": 3.0, "relative_offset": False, "strength": 1.0, "type": 0})[0]
    path = os.path.join(WORK, "override.blend")

    def plays_every_output(when):
        obj = bpy.data.objects["Grid"]
        for output in ('NODES', 'ATTRIBUTE', 'DIRECT'):
            obj.data.tessarin_cache.output = output
            set_frame(19)
            set_frame(20)
            got = played_output(obj, output)
            check(np.array_equal(got.view(np.uint32), (want if output == 'ATTRIBUTE' else np.clip(want, 0, 1))
                                 .view(np.uint32)), f"{when}, {output}: the override plays frame 20 "
                  f"({int((got != want).sum())} differ; {obj.data.tessarin_cache.status})")

    plays_every_output("an override")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    mesh = bpy.data.objects["Grid"].data
    check(mesh.override_library is not None and mesh.tessarin_cache.start == 3.0,
          f"the override keeps its change: start {mesh.tessarin_cache.start}")
    plays_every_output("an override saved and reopened")
    for blend, code, text in ((shot, 1, "linked from"), (path, 0, "plays")):
        run = blender(blend, "--addons", "tessarin_cache", "--python", PREFLIGHT)
        check(run.returncode == code and text in run.stdout, f"preflight {blend}: exit {run.returncode}, "
              f"not {code}, says {text!r}?\n{run.stdout[-800:]}")


def test_files_of_add_on_1_0_keep_their_settings(cache):
    # 1.0 kept the settings on the object; such a file opens with them on the mesh, as they were
    bpy.ops.wm.read_homefile(use_empty=True)
    obj = grid_object()
    obj["tessarin_cache"] = {"enabled": True, "filepath": cache, "group": GROUP, "start": 2.0, "selection_type": 1}
    path = os.path.join(WORK, "old.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    obj = bpy.data.objects["Grid"]
    s = obj.data.tessarin_cache
    check(s.enabled and s.filepath == cache and s.start == 2.0 and s.selection_type == "ADD" and s.output == 'DIRECT'
          and "tessarin_cache" not in obj, "a 1.0 file: its settings moved to the mesh")
    check(s.status.startswith("98 samples, frames 2 to"), f"a 1.0 file plays: {s.status!r}")


def test_the_picture_script_renders_a_draft(cache):
    # docs/blender.md's picture, drawn small and with one sample, so that the script cannot go stale
    script = os.path.join(os.path.dirname(PREFLIGHT), "..", "..", "scripts", "blender_picture.py")
    out = os.path.join(WORK, "picture.png")
    # a configuration of its own: installing again into this Blender's would rewrite the module it runs
    own = os.path.join(WORK, "picture")
    run = blender("--factory-startup", "--python-exit-code", "1", "--python", script, "--", ADDON, cache, out,
                  "12.5", "1", "10", BLENDER_USER_SCRIPTS=os.path.join(own, "scripts"),
                  BLENDER_USER_CONFIG=os.path.join(own, "config"))
    check(run.returncode == 0 and os.path.getsize(out) > 0 and "status: 98 samples" in run.stdout,
          f"the picture script: exit {run.returncode}\n{run.stdout[-600:]}{run.stderr[-600:]}")
    check("not disabled" not in run.stdout, "the picture script installs the add-on without a misleading line")


def main():
    # Blender's installer says "addon_utils.disable: tessarin_cache not disabled" of an add-on new to it
    with contextlib.redirect_stdout(io.StringIO()):
        bpy.ops.preferences.addon_install(filepath=ADDON)
    bpy.ops.preferences.addon_enable(module="tessarin_cache")
    cache = record("sweep.sel")
    smaller = record("smaller.sel", rows=ROWS - 1)
    obj = grid_object()
    s = obj.data.tessarin_cache
    s.group = GROUP
    s.filepath = cache
    s.output = 'DIRECT'
    s.enabled = True
    bpy.context.scene.frame_end = LAST
    for test in (lambda: test_plays_the_weights_vomark_eval_gives(obj, cache),
                 lambda: test_weights_reach_blenders_own_modifiers(obj),
                 lambda: test_through_nodes_the_evaluated_group_gets_the_same_weights(obj, cache),
                 lambda: test_switching_off_restores_the_groups_own_weights(obj),
                 lambda: test_reports_files_that_cannot_play(obj, cache, smaller),
                 lambda: test_a_file_re_recorded_while_it_plays_plays_anew(obj, cache),
                 lambda: test_edit_mode_pauses_and_leaving_it_plays(obj),
                 lambda: test_a_group_changed_while_playing_gives_every_group_back(cache),
                 lambda: test_linked_duplicates_share_one_driver_and_get_their_group_back(cache),
                 lambda: test_settings_survive_saving_and_reopening(cache),
                 lambda: test_a_farm_sees_what_plays_and_the_preflight_check_says_so(cache),
                 test_installing_over_the_running_add_on_quits_cleanly,
                 lambda: test_linked_data_is_never_written_and_overrides_keep_their_settings(cache),
                 lambda: test_files_of_add_on_1_0_keep_their_settings(cache),
                 lambda: test_the_picture_script_renders_a_draft(cache)):
        try:
            test()
        except Exception:
            failures.append(traceback.format_exc())
            traceback.print_exc()
    print(f"blender add-on test: {checks[0]} checks, {len(failures)} failure(s)")
    if failures:
        sys.exit(1)


main()

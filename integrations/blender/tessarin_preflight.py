"""Pre-flight check for a farm: would every cache in this .blend file play in this Blender?

  blender -b shot.blend --addons tessarin_cache --python tessarin_preflight.py

Run it with the options the render will have. It prints one line per mesh whose cache would play,
and exits 1 when one would play but the add-on is not enabled here (the render would freeze the
weights saved in the file), when its mesh is linked without a library override (the add-on writes
nothing into a library's data), or when its file cannot play (missing, damaged, another vertex count);
0 when every cache plays, or there is none.
"""
import sys

import addon_utils
import bpy


def driven():
    """(mesh, settings as saved) of every mesh of a scene whose cache is switched on (not the library's
    originals of overrides, which no scene shows); files of add-on 1.0 kept them on the object."""
    found = {}
    for scene in bpy.data.scenes:
        for obj in scene.objects:
            if obj.type != 'MESH':
                continue
            for owner in (obj.data, obj):
                saved = owner.get("tessarin_cache")
                if saved is not None and saved.get("enabled"):
                    found.setdefault(obj.data.name_full, (obj.data, saved))
    return list(found.values())


def problem(mesh, saved, enabled):
    """(what stops the cache playing or None, its file)."""
    if not enabled:
        return ("a cache plays here but the add-on tessarin_cache is not enabled (render with --addons "
                "tessarin_cache)", saved.get("filepath", ""))
    from tessarin_cache import module, playback
    path = playback.absolute(mesh, saved.get("filepath", ""))
    owner = playback.not_owned(mesh)  # linked without an override: the add-on plays nothing there
    if owner:
        return owner, path
    if module.tessarin is None:
        return module.problem, path
    if not path:
        return "no cache file", path
    try:
        with module.tessarin.open(path) as cache:
            counts = set(cache.counts.tolist())
    except (OSError, module.tessarin.CacheError) as e:
        return str(e), path
    if len(mesh.vertices) not in counts:
        return f"vertex count {len(mesh.vertices)}, cache has {min(counts)} to {max(counts)}", path
    return None, path


def main():
    enabled = addon_utils.check("tessarin_cache")[1]
    failures = 0
    caches = driven()
    for mesh, saved in caches:
        reason, path = problem(mesh, saved, enabled)
        failures += reason is not None
        print(f"tessarin_preflight: {mesh.name_full}: {path}: {reason or 'plays'}")
    print(f"tessarin_preflight: {len(caches)} cache(s), {failures} cannot play")
    sys.exit(1 if failures else 0)


main()

"""Files saved by add-on 1.0 kept the settings on the object. They belong with the data they drive,
the mesh (objects sharing one mesh share its group weights), so they move there when such a file
opens, as they were: no update runs, the weights kept aside stay as they are."""
import bpy

KEYS = ("enabled", "filepath", "group", "start", "relative_offset", "strength", "selection_type", "status")


def move_settings_to_meshes():
    for obj in bpy.data.objects:
        old = obj.get("tessarin_cache")
        if old is None or obj.type != 'MESH' or obj.library is not None or obj.data.library is not None:
            continue
        new = obj.data.tessarin_cache
        if not new.enabled and not new.filepath:  # a mesh already driven keeps its own settings
            for key in KEYS:
                if key in old:
                    new[key] = old[key]
            # 1.0 set the group directly unless told to go through the nodes
            new["output"] = 0 if old.get("through_nodes", False) else 1
        del obj["tessarin_cache"]

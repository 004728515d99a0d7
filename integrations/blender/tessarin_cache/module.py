"""The tessarin module the add-on plays with: the one it carries in its own folder (the zip that
`make blender-addon` builds holds it, built for Blender's Python), else one installed into the Python
Blender runs. Never the user's site folder: Blender leaves that out, and farms often turn it off."""
try:
    from . import tessarin
    problem = None
except ImportError as carried:
    try:
        import tessarin
        problem = None
    except ImportError:
        tessarin = None
        problem = f"the tessarin module cannot be loaded ({carried}): install the add-on's zip (make blender-addon)"

"""Selection cache files (.sel): open, check, play and write them with the Tessarin plug-in's own code.

    import tessarin
    with tessarin.open("shot.sel") as cache:
        track = cache.read(vertices=20_100)  # one vertex over every sample, read alone
"""
from ._tessarin import Cache, CacheError, Writer, __version__, open, verify

__all__ = ["Cache", "CacheError", "Writer", "open", "verify", "__version__"]

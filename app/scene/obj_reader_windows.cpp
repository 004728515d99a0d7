// Debian's OBJ reader is a library on Linux; for Windows its single header is built here.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

// Everything a plug-in module compiles against.
#pragma once
#include "vomark/core.h"
#include "vomark/fnpub.h"
#include "vomark/interface.h"
#include "vomark/io.h"
#include "vomark/iparamb2.h"
#include "vomark/object.h"
#include "vomark/plugapi.h"
#include "vomark/ref.h"
#include "vomark/util.h"
#include "vomark/win32.h"

// kxlib: everything a module or the front end needs of the core.
#pragma once

#include "catalogue.h"
#include "controlpad.h"
#include "files.h"
#include "gfxbuffer.h"
#include "kxclass.h"
#include "kxtypes.h"
#include "log.h"
#include "memory.h"
#include "object.h"
#include "operator.h"

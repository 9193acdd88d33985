#pragma once
// Everything an editor needs from the toolkit.

#include "toolkit/aeffguieditor.h"
#include "toolkit/bitmap.h"
#include "toolkit/controls.h"
#include "toolkit/drawcontext.h"
#include "toolkit/geometry.h"
#include "toolkit/view.h"

// Everything of the media graph layer in one include.
#pragma once

#include "platform/com/comapi.h"
#include "platform/mediagraph/allocator.h"
#include "platform/mediagraph/basefilter.h"
#include "platform/mediagraph/filtergraph.h"
#include "platform/mediagraph/filtermapper.h"
#include "platform/mediagraph/pins.h"
#include "platform/mediagraph/pushsource.h"
#include "platform/mediagraph/transform.h"
#include "platform/mediagraph/vtransform.h"

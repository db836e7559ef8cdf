// The filter graph manager: holds the filters, connects and renders pins, runs and stops the
// whole graph, and queues the events filters send.
//
// Created with CoCreateInstance(CLSID_FilterGraph, ..., IID_IGraphBuilder); the same object
// answers IFilterGraph, IGraphBuilder, IMediaControl, IMediaEvent and IMediaEventSink, and
// IVideoWindow / IBasicVideo when a filter in the graph (the renderer) implements them.
// State changes go downstream first (renderers, then the filters feeding them), so a source's
// streaming thread stops after everything below it refuses samples.
#pragma once

#include "platform/mediagraph/interfaces.h"

extern const CLSID CLSID_FilterGraph;

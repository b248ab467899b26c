#pragma once

#include "orvanta/pipeline/pipeline.h"

// The process-wide state behind pipeline.h, shared by its source files.
namespace orvanta::pipeline::detail {

UiHooks Hooks();

}  // namespace orvanta::pipeline::detail

// Sievelet: block rules and filter files, their matching, the pass list and the built-in
// worm detector. The whole exported interface of libsievelet.
#pragma once

#include "sievelet/spam_filter_record.h"
#include "sievelet/spam_filter.h"
#include "sievelet/pass_filter.h"
#include "sievelet/program_filter.h"

// Toolwick: the utility component every deliverable links against.
#pragma once

#include "components/toolwick/spam_util.h"
#include "components/toolwick/spam_buffer.h"
#include "components/toolwick/debug.h"
#include "components/toolwick/reg_exp.h"

// Winnow: the learning filter (tokenizer, token store, chi-square score).
#pragma once

#include "winnow/chi_square.h"
#include "winnow/html_text.h"
#include "winnow/tokenizer.h"
#include "winnow/token_store.h"
#include "winnow/learning_filter.h"

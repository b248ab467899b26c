// Parsewick: the mail parsing library (codecs, header model, MIME tree and parser).
#pragma once

#include "parsewick/base64.h"
#include "parsewick/quoted_printable.h"
#include "parsewick/mail_header.h"
#include "parsewick/mime_message.h"
#include "parsewick/mail_parser.h"

// Fetchling: the POP3 client library. A program outside the project includes this header
// (with -I at the project root) and links against libfetchling.
#pragma once

#include "common/client_socket.h"
#include "components/toolwick/debug.h"
#include "fetchling/pop3_account.h"
#include "fetchling/pop3_client.h"
#include "fetchling/pop3_mesg.h"
#include "fetchling/pop3_tran_command.h"

// Harborage: the local mail store and the IMAP server that publishes it.
#pragma once

#include "harborage/folder_store.h"
#include "harborage/mail_store.h"
#include "harborage/imap_mesg.h"
#include "harborage/imap_server.h"
#include "harborage/imap_session.h"

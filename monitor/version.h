// The product's version and names, shared by the version resources of the
// files the installation copies.
#pragma once

#define ZORVANE_VERSION_NUMBERS 3, 1, 0, 0
#define ZORVANE_VERSION_TEXT "3.1.0.0"
#define ZORVANE_COMPANY_NAME "Zorvane Systems, Inc."
#define ZORVANE_PRODUCT_NAME "Zorvane Creator"
#define ZORVANE_COPYRIGHT "Copyright (C) Zorvane Systems, Inc."

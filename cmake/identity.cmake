# The product's identity, the one place it is written: the names Windows
# knows the product by (its printer, driver, port, port monitor and the
# monitor's DLL), its maker and its versions. Sources and resource scripts
# take them from the generated header zorvaneidentity.h (target
# zorvane_identity); the shipped text files are configured from them.
# The names are the system's own: machines that ran an earlier setup hold
# them, and an uninstallation finds what it removes by them.

set(ZORVANE_PRODUCT_NAME "Zorvane Creator")
set(ZORVANE_PRINTER_NAME "${ZORVANE_PRODUCT_NAME}")
set(ZORVANE_DRIVER_NAME "${ZORVANE_PRODUCT_NAME}")
set(ZORVANE_PORT_NAME "ZorvanePort")
set(ZORVANE_MONITOR_NAME "${ZORVANE_PRODUCT_NAME} Port Monitor")
set(ZORVANE_MONITOR_MODULE "zorvanemon")

set(ZORVANE_COMPANY_NAME "Zorvane Systems, Inc.")
set(ZORVANE_COPYRIGHT "Copyright (C) ${ZORVANE_COMPANY_NAME}")
# The driver's provider, as the spooler lists it beside the maker.
set(ZORVANE_PROVIDER_NAME "Zorvane")
set(ZORVANE_MAKER_URL "http://www.zorvane.example")

# The installer registers the product version of zorvanedrvui.dll as the
# driver version; the file version of the driver's DLLs counts builds and is
# not read.
set(ZORVANE_PRODUCT_VERSION 3.1.0.0)
set(ZORVANE_FILE_VERSION 3.1.7.42)

# ---- Derived forms ---------------------------------------------------------------
set(ZORVANE_MONITOR_DLL "${ZORVANE_MONITOR_MODULE}.dll")
# A version resource's fixed part takes the numbers apart: "3,1,0,0".
string(REPLACE "." "," ZORVANE_PRODUCT_VERSION_NUMBERS ${ZORVANE_PRODUCT_VERSION})
string(REPLACE "." "," ZORVANE_FILE_VERSION_NUMBERS ${ZORVANE_FILE_VERSION})
# What people read ("3.1") and the distribution's ZIP ("3.1.0").
string(REGEX MATCH "^[0-9]+\\.[0-9]+" ZORVANE_RELEASE ${ZORVANE_PRODUCT_VERSION})
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" ZORVANE_PACKAGE_VERSION ${ZORVANE_PRODUCT_VERSION})

set(ZORVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvaneidentity.h.in ${ZORVANE_GENERATED_DIR}/zorvaneidentity.h @ONLY)
add_library(zorvane_identity INTERFACE)
target_include_directories(zorvane_identity INTERFACE ${ZORVANE_GENERATED_DIR})

// UTC time stamps for stored rows and file names.
#pragma once
#include <string>

// "2024-05-01T12:34:56.789Z": sortable, what the database rows carry.
std::string utc_iso_now();

// "20240501T123456Z": safe inside file names.
std::string utc_compact_now();

// "Wed, 01 May 2024 12:34:56 GMT": the HTTP Date header form.
std::string http_date_now();

#include "http_response.h"

#include <algorithm>
#include <cctype>

#include "utc_time.h"

const char* status_reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

std::string ResponseHead::to_text() const {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + status_reason(status) + "\r\n";
  text += "Date: " + http_date_now() + "\r\n";
  text += "Server: orlix_server\r\n";
  text += "Connection: close\r\n";
  text += "Content-Type: " + content_type + "\r\n";
  if (content_length) text += "Content-Length: " + std::to_string(*content_length) + "\r\n";
  if (chunked) text += "Transfer-Encoding: chunked\r\n";
  for (const auto& [name, value] : extra_fields) text += name + ": " + value + "\r\n";
  text += "\r\n";
  return text;
}

std::string content_type_for(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : file_name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "htm" || extension == "html") return "text/html";
  if (extension == "txt" || extension == "ini") return "text/plain";
  if (extension == "json") return "application/json";
  if (extension == "png") return "image/png";
  if (extension == "zip") return "application/zip";
  return "application/octet-stream";
}

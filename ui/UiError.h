#pragma once

#include <stdexcept>
#include <string>

// A failure that ends an event handler and is shown by the application's exception display:
// a conversion that did not succeed, or a grid value the mask refuses.
class TUiError : public std::runtime_error {
public:
  explicit TUiError(const std::string& message) : std::runtime_error(message) {}
};

#include "app/run/TallyingView.h"

namespace plume {

void TTallyingView::ShowPlainMessage(const std::string& text) {
    if (fileFailure_.empty()) fileFailure_ = text;
    target_.ShowPlainMessage(text);
}

void TTallyingView::ShowError(const std::string& text) {
    if (fileFailure_.empty()) fileFailure_ = text;
    target_.ShowError(text);
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\r'));
}

}  // namespace plume

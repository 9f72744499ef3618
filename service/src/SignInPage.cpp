#include "SignInPage.h"

#include "SecureTokens.h"

namespace velmora::service {
namespace {

constexpr const char* kStyle =
    "body{font-family:system-ui,sans-serif;max-width:28em;margin:4em auto;padding:0 1em;"
    "color:#222}.error{color:#b00020}input,button{font-size:1em;padding:.4em}";

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string page(const std::string& title, const std::string& content) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           title + "</title><style>" + kStyle + "</style></head><body><h1>" + title + "</h1>" +
           content + "</body></html>\n";
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string formDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string signInPageHtml(const std::string& formToken, const std::string& error) {
    std::string content;
    if (!error.empty()) {
        content += "<p class=\"error\" role=\"alert\">" + escapeHtml(error) + "</p>";
    }
    content +=
        "<p>Enter the passphrase this service's operator set up to sign Velmora in.</p>"
        "<form method=\"post\" action=\"/auth/google?platform=mac\">"
        "<input type=\"hidden\" name=\"" +
        std::string(kFormTokenField) + "\" value=\"" + escapeHtml(formToken) +
        "\">"
        "<label for=\"passphrase\">Passphrase</label><br>"
        "<input type=\"password\" id=\"passphrase\" name=\"passphrase\" "
        "autocomplete=\"current-password\" autofocus required> "
        "<button type=\"submit\">Sign in</button></form>"
        "<p>Your browser then hands the sign-in to Velmora (it may ask to open Velmora first). "
        "After that you can close this tab.</p>";
    return page("Sign in to Velmora", content);
}

std::string signedInPageHtml(const std::string& callbackUrl) {
    return page("Signed in",
                "<p>The sign-in has been handed to Velmora. You can close this tab.</p>"
                "<p>If Velmora did not open, <a href=\"" +
                    escapeHtml(callbackUrl) + "\">open Velmora</a>.</p>");
}

std::string signInPagePolicy() {
    return "default-src 'none'; style-src 'sha256-" + sha256Base64(kStyle) +
           "'; form-action 'self' velmora:; frame-ancestors 'none'; base-uri 'none'";
}

std::string signInUnavailableHtml() {
    return page("Sign-in unavailable",
                "<p>Sign-in is not set up on this service: its operator has not configured a "
                "passphrase.</p>");
}

std::map<std::string, std::string> parseFormBody(const std::string& body) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) {
            end = body.size();
        }
        const std::string pair = body.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (!pair.empty()) {
            fields.emplace(formDecode(pair.substr(0, equals)),
                           equals == std::string::npos ? "" : formDecode(pair.substr(equals + 1)));
        }
        start = end + 1;
    }
    return fields;
}

}  // namespace velmora::service

#include "sim/idcard/card_reader.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/byte_order.h"
#include "sim/idcard/reader_protocol.h"

namespace fx60::idcard {

namespace {

constexpr int kMaxReadDelayMs = 60000;

std::vector<uint8_t> statusOnly(int status) { return {static_cast<uint8_t>(status)}; }

void appendBlock(std::vector<uint8_t>& out, const std::vector<uint8_t>& block) {
  sim::appendU32(out, static_cast<uint32_t>(block.size()));
  out.insert(out.end(), block.begin(), block.end());
}

const char* opcodeName(uint8_t opcode) {
  switch (opcode) {
    case kOpOpen: return "open";
    case kOpResetSam: return "reset-sam";
    case kOpSamId: return "sam-id";
    case kOpFindCard: return "find";
    case kOpSelectCard: return "select";
    case kOpReadBase: return "read";
    case kOpReadAppendix: return "read-appendix";
    default: return "unknown";
  }
}

std::optional<int> parseCount(const std::string& text, int limit) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > limit) return std::nullopt;
  return value;
}

}  // namespace

bool CardReader::plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

int CardReader::openLink() {
  std::lock_guard lock(mutex_);
  const int link = nextLink_++;
  links_[link] = 0;
  return link;
}

void CardReader::closeLink(int link) {
  std::lock_guard lock(mutex_);
  links_.erase(link);
}

sim::Reply CardReader::handle(int link, std::span<const uint8_t> request, int64_t) {
  std::lock_guard lock(mutex_);
  sim::Reply reply = answer(link, request);
  char line[96];
  std::snprintf(line, sizeof line, "link %d %s -> 0x%02x", link, request.empty() ? "empty" : opcodeName(request[0]),
                reply.message.empty() ? 0 : reply.message[0]);
  log(line);
  return reply;
}

sim::Reply CardReader::answer(int link, std::span<const uint8_t> request) {
  sim::Reply reply;
  if (!plugged_) {
    reply.hangUp = true;
    return reply;
  }
  if (failNext_ > 0) {
    --failNext_;
    reply.message = statusOnly(kReaderFault);
    return reply;
  }
  if (request.empty()) {
    reply.message = statusOnly(kBadArgument);
    return reply;
  }
  int& port = links_[link];
  const uint8_t opcode = request[0];
  if (opcode == kOpOpen) {
    if (request.size() != 5) {
      reply.message = statusOnly(kBadArgument);
      return reply;
    }
    const int wanted = static_cast<int>(sim::readU32(request, 1));
    ++opens_;
    port = config_.ports.contains(wanted) ? wanted : 0;
    reply.message = statusOnly(port != 0 ? kDone : kUnreachable);
    return reply;
  }
  if (port == 0) {
    reply.message = statusOnly(kPortNotOpen);
    return reply;
  }
  switch (opcode) {
    case kOpResetSam:
      reply.message = statusOnly(kDone);
      break;
    case kOpSamId:
      reply.message = statusOnly(kDone);
      reply.message.insert(reply.message.end(), config_.serial.begin(), config_.serial.end());
      break;
    case kOpFindCard:
      reply.message = statusOnly(card_ ? kCardFound : kNoCard);
      break;
    case kOpSelectCard:
      reply.message = statusOnly(card_ ? kDone : kNoCard);
      break;
    case kOpReadBase:
    case kOpReadAppendix:
      if (!card_) {
        reply.message = statusOnly(kNoCard);
      } else if (!card_->blocks) {
        reply.message = statusOnly(kCardUnreadable);
      } else if (opcode == kOpReadBase) {
        ++reads_;
        reply.message = statusOnly(kDone);
        appendBlock(reply.message, card_->blocks->text);
        appendBlock(reply.message, card_->blocks->photo);
        appendBlock(reply.message, card_->blocks->fingerprints);
        reply.delayMs = config_.readDelayMs;
      } else {
        reply.message = statusOnly(kDone);
        appendBlock(reply.message, card_->blocks->appendix);
      }
      break;
    default:
      reply.message = statusOnly(kBadArgument);
  }
  return reply;
}

std::string CardReader::placeCard(const std::string& path) {
  std::string error;
  std::ifstream probe(path, std::ios::binary);
  if (!probe) return "error cannot read " + path;
  PlacedCard placed{std::filesystem::path(path).filename().string(), std::nullopt, {}};
  if (auto card = readCardFile(path, &error)) placed.blocks = cardBlocks(*card, &error);
  if (!placed.blocks) placed.problem = error;
  std::lock_guard lock(mutex_);
  card_ = std::move(placed);
  log("card " + card_->name + " placed" + (card_->blocks ? "" : " (unreadable: " + card_->problem + ")"));
  return card_->blocks ? "ok" : "ok unreadable: " + card_->problem;
}

void CardReader::removeCard() {
  std::lock_guard lock(mutex_);
  card_.reset();
  log("card removed");
}

std::string CardReader::status() const {
  std::ostringstream out;
  out << "plugged=" << (plugged_ ? 1 : 0) << " card=";
  if (!card_) out << '-';
  else out << card_->name << (card_->blocks ? "" : ":unreadable");
  out << " ports=";
  bool first = true;
  for (const int port : config_.ports) {
    out << (first ? "" : ",") << port;
    first = false;
  }
  out << " opens=" << opens_ << " reads=" << reads_ << " fail-next=" << failNext_
      << " read-delay=" << config_.readDelayMs << " links=" << links_.size();
  return out.str();
}

std::string CardReader::control(const std::string& line, int64_t, bool& dropLinks) {
  const size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
  if (verb == "place") {
    if (argument.empty()) return "error place needs a card file";
    return placeCard(argument);
  }
  if (verb == "remove") {
    removeCard();
    return "ok";
  }
  std::lock_guard lock(mutex_);
  if (verb == "unplug") {
    plugged_ = false;
    dropLinks = true;
    log("unplugged");
  } else if (verb == "plug") {
    plugged_ = true;
    log("plugged");
  } else if (verb == "fail-next") {
    const auto count = parseCount(argument, 1000000);
    if (!count) return "error fail-next needs a count";
    failNext_ = *count;
  } else if (verb == "read-delay") {
    const auto ms = parseCount(argument, kMaxReadDelayMs);
    if (!ms) return "error read-delay needs milliseconds (0 to 60000)";
    config_.readDelayMs = *ms;
  } else if (verb == "status") {
    return status();
  } else {
    return "error unknown command '" + verb + "'";
  }
  return "ok";
}

void CardReader::setLogger(std::function<void(const std::string&)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

void CardReader::log(const std::string& line) const {
  if (logger_) logger_(line);
}

}  // namespace fx60::idcard

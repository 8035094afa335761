#include "mbwire/mbserver.h"

#include <algorithm>

#include "mbwire/mbcodes.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbtcp.h"

MBServer::~MBServer() {
  CloseConnection();
}

bool MBServer::OpenConnection(const std::string& name, int16_t type) {
  CloseConnection();
  name_ = name;
  type_ = type;
  connectError_.clear();
  if (type != vx::MBConnType::kSerial && type != vx::MBConnType::kTcp) {
    connectError_ = "unknown connection type " + std::to_string(type);
    type_ = 0;
    return false;
  }
  return true;
}

bool MBServer::Connect() {
  transport_.reset();
  connectError_.clear();
  // Negative times would make every wait end at once; treat them as zero.
  const vx::MBTiming timing{std::chrono::milliseconds(std::max<int32_t>(timeOut_, 0)),
                            std::chrono::milliseconds(std::max<int32_t>(silentInterval_, 0))};
  if (type_ == vx::MBConnType::kSerial) {
    if (txMode_ != vx::MBTxMode::kRtu && txMode_ != vx::MBTxMode::kAscii) {
      connectError_ = "unknown transmission mode " + std::to_string(txMode_);
      return false;
    }
    const std::string path = vx::ComPortPath(comPort_);
    if (path.empty()) {
      connectError_ = "no port COM" + std::to_string(comPort_);
      return false;
    }
    vx::MBSerialPort port;
    if (!port.Open(path, line_, &connectError_)) {
      connectError_ = "COM" + std::to_string(comPort_) + " " + connectError_;
      return false;
    }
    auto channel = std::make_unique<vx::MBSerialChannel>(std::move(port));
    if (txMode_ == vx::MBTxMode::kRtu)
      transport_ = std::make_unique<vx::MBRtuTransport>(std::move(channel), line_, timing);
    else
      transport_ = std::make_unique<vx::MBAsciiTransport>(std::move(channel), line_, timing);
    transport_->SetTap(&vx::MBFrameTap::Global(), "COM" + std::to_string(comPort_));
    return true;
  }
  if (type_ == vx::MBConnType::kTcp) {
    if (host_.empty() || tcpPort_ < 1 || tcpPort_ > 65535) {
      connectError_ = "invalid host or port";
      return false;
    }
    // Connecting is bounded like an answer, but a short TimeOut must not make a slow
    // network unreachable.
    const auto connectTimeout = std::max(timing.timeOut, std::chrono::milliseconds(3000));
    auto channel =
        std::make_unique<vx::MBTcpChannel>(host_, static_cast<uint16_t>(tcpPort_), connectTimeout);
    if (!channel->Connect(&connectError_)) return false;
    transport_ = std::make_unique<vx::MBTcpTransport>(std::move(channel), timing);
    transport_->SetTap(&vx::MBFrameTap::Global(), host_ + ":" + std::to_string(tcpPort_));
    return true;
  }
  connectError_ = "OpenConnection was not called";
  return false;
}

int32_t MBServer::TxRxMessage(const std::vector<uint8_t>& vQuery, int16_t QueryLength,
                              int16_t /*RespLength*/, std::vector<uint8_t>& vResponse) {
  vResponse.clear();
  if (!transport_)
    return type_ == vx::MBConnType::kTcp ? vx::mbresult::kSocketNotConnected
                                         : vx::mbresult::kPortNotInitialized;
  if (QueryLength < 0 || static_cast<std::size_t>(QueryLength) > vQuery.size())
    return vx::mbresult::kUnexpectedDataSize;
  return transport_->Transact(
      std::span<const uint8_t>(vQuery.data(), static_cast<std::size_t>(QueryLength)), vResponse);
}

void MBServer::CloseConnection() {
  transport_.reset();
}

std::unique_ptr<TkoMBServerLink> vx::CreateTransportServer() {
  return std::make_unique<MBServer>();
}

bool RegisterMBServer(const std::string& /*dir*/) {
  return true;
}

#include "QtDatagramSocket.h"

QtDatagramSocket::QtDatagramSocket(UdpSocket& socket) : m_socket(socket)
{
    m_arrival =
        QObject::connect(&m_socket, &UdpSocket::DataArrival, &m_socket, [this](qint32 bytesTotal) {
            if (DataArrival) {
                DataArrival(bytesTotal);
            }
        });
    m_error = QObject::connect(&m_socket, &UdpSocket::Error, &m_socket,
                               [this](qint16 number, const QString& description) {
                                   if (Error) {
                                       Error(number, description.toStdString());
                                   }
                               });
}

QtDatagramSocket::~QtDatagramSocket()
{
    QObject::disconnect(m_arrival);
    QObject::disconnect(m_error);
}

void QtDatagramSocket::setRemoteHost(const std::string& host)
{
    m_socket.setRemoteHost(QString::fromStdString(host));
}

std::vector<std::uint8_t> QtDatagramSocket::getData(int maxLength)
{
    const QByteArray data = m_socket.getData(maxLength);
    return {data.begin(), data.end()};
}

void QtDatagramSocket::sendData(const std::vector<std::uint8_t>& data)
{
    m_socket.sendData(QByteArray(reinterpret_cast<const char*>(data.data()),
                                 static_cast<qsizetype>(data.size())));
}

std::string QtDatagramSocket::arrivalInterfaceName() const
{
    return m_socket.arrivalInterfaceName().toStdString();
}

std::string QtDatagramSocket::arrivalAddress() const
{
    return m_socket.arrivalAddress().toStdString();
}

bool QtDatagramSocket::arrivalSubnetHolds(const std::string& address) const
{
    return m_socket.arrivalSubnetHolds(QString::fromStdString(address));
}

#include "UserLoginInfo.h"

#include <mbedtls/platform_util.h>

#include <cstring>

void CUserLoginInfo::setKey(const QByteArray &key)
{
    mbedtls_platform_zeroize(m_key, sizeof m_key);
    const int n = qMin(key.size(), kKeySize - 1);
    std::memcpy(m_key, key.constData(), size_t(n));
    std::memset(m_iv, 0, sizeof m_iv);
    m_bEncrypted = true;
}

QByteArray CUserLoginInfo::keyText() const
{
    return QByteArray(m_key, int(qstrnlen(m_key, sizeof m_key)));
}

void CUserLoginInfo::wipe()
{
    mbedtls_platform_zeroize(m_key, sizeof m_key);
    mbedtls_platform_zeroize(m_iv, sizeof m_iv);
    m_bEncrypted = false;
    m_bUpgrade = false;
}

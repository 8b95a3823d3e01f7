#include "token_store.h"

#include <QMetaObject>
#include <QPointer>

#include <qt6keychain/keychain.h>

#include "settings_store.h"

namespace duo {

namespace {

/// The secret service is missing or broken (no D-Bus session, no daemon, no collection) rather
/// than refusing: the file is the right place then. A user who refused access is not overruled.
bool serviceUnavailable(QKeychain::Error error) {
  return error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented ||
         error == QKeychain::OtherError;
}

template <typename Job>
Job* makeJob(QObject* parent, const QString& key) {
  auto* job = new Job(QString::fromLatin1(TokenStore::kServiceName), parent);
  job->setAutoDelete(true);
  job->setInsecureFallback(false);
  job->setKey(key);
  return job;
}

}  // namespace

TokenStore::TokenStore(SettingsStore& fallback, Backend backend, QObject* parent)
    : QObject(parent), m_fallback(fallback), m_backend(backend) {}

void TokenStore::readFromFile(const QString& key, const ReadCallback& done) {
  const QString value = m_fallback.objectForKey(key).toString();
  m_lastLocation = value.isEmpty() ? Location::None : Location::File;
  if (done) done(value);
}

void TokenStore::writeToFile(const QString& key, const QString& value, const DoneCallback& done) {
  m_fallback.setObject(value.isEmpty() ? QVariant() : QVariant(value), key);
  const bool saved = m_fallback.saveError().isEmpty();
  m_lastLocation = saved && !value.isEmpty() ? Location::File : Location::None;
  if (done) done(saved);
}

void TokenStore::read(const QString& key, ReadCallback done) {
  if (m_backend == Backend::FileOnly) {
    // Asynchronous like the secret service, so callers see one behaviour.
    QMetaObject::invokeMethod(
        this, [this, key, done] { readFromFile(key, done); }, Qt::QueuedConnection);
    return;
  }
  auto* job = makeJob<QKeychain::ReadPasswordJob>(this, key);
  connect(job, &QKeychain::Job::finished, this, [this, key, done](QKeychain::Job* finished) {
    const auto* reading = static_cast<QKeychain::ReadPasswordJob*>(finished);
    if (reading->error() == QKeychain::NoError) {
      m_lastLocation = Location::SecretService;
      if (done) done(reading->textData());
      return;
    }
    // Not found there: a token kept in the file while no secret service ran is still valid.
    if (reading->error() == QKeychain::EntryNotFound || serviceUnavailable(reading->error())) {
      readFromFile(key, done);
      return;
    }
    m_lastLocation = Location::None;
    if (done) done(QString());
  });
  job->start();
}

void TokenStore::write(const QString& key, const QString& value, DoneCallback done) {
  if (value.isEmpty()) {
    remove(key, std::move(done));
    return;
  }
  if (m_backend == Backend::FileOnly) {
    QMetaObject::invokeMethod(
        this, [this, key, value, done] { writeToFile(key, value, done); }, Qt::QueuedConnection);
    return;
  }
  auto* job = makeJob<QKeychain::WritePasswordJob>(this, key);
  job->setTextData(value);
  connect(job, &QKeychain::Job::finished, this, [this, key, value, done](QKeychain::Job* finished) {
    if (finished->error() == QKeychain::NoError) {
      m_lastLocation = Location::SecretService;
      // A copy left in the file from a run without a secret service would outlive a sign-out.
      if (m_fallback.objectForKey(key).isValid()) m_fallback.removeObjectForKey(key);
      if (done) done(true);
    } else if (serviceUnavailable(finished->error())) {
      writeToFile(key, value, done);
    } else {
      m_lastLocation = Location::None;
      if (done) done(false);
    }
  });
  job->start();
}

void TokenStore::remove(const QString& key, DoneCallback done) {
  if (m_fallback.objectForKey(key).isValid()) m_fallback.removeObjectForKey(key);
  if (m_backend == Backend::FileOnly) {
    QMetaObject::invokeMethod(
        this,
        [this, done] {
          m_lastLocation = Location::None;
          if (done) done(m_fallback.saveError().isEmpty());
        },
        Qt::QueuedConnection);
    return;
  }
  auto* job = makeJob<QKeychain::DeletePasswordJob>(this, key);
  connect(job, &QKeychain::Job::finished, this, [this, done](QKeychain::Job* finished) {
    m_lastLocation = Location::None;
    const bool gone = finished->error() == QKeychain::NoError ||
                      finished->error() == QKeychain::EntryNotFound ||
                      serviceUnavailable(finished->error());
    if (done) done(gone);
  });
  job->start();
}

}  // namespace duo

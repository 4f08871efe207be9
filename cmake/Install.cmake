# Install layout: the service folder holds QuorvelTool, Tevora_x86 and the
# subfolder x64 with Tevora_x64 (the same player binary).
include(GNUInstallDirs)

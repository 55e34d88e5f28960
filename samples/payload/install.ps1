# Installs zarvo for the current user from the folder that holds this script.
# The sample payload's installer: it does what the real one promises, on a small scale.
param(
    [string]$Node,
    [string]$From = $PSScriptRoot,
    [string]$Peer,
    [string]$PeerHost,
    [switch]$NoTasks,
    [switch]$ConfigureOnly,
    [switch]$Archive,
    [string]$ArchiveTo = '',
    [switch]$Uninstall
)
$ErrorActionPreference = 'Stop'

function Section([string]$Title) {
    if ([Console]::IsOutputRedirected) { Write-Host $Title } else { Write-Host $Title -ForegroundColor Cyan }
}
function Step([string]$Text) { Write-Host "  $Text" }

if ($PSVersionTable.PSVersion.Major -lt 5) { throw "zarvo needs Windows PowerShell 5 or later" }
$bin = Join-Path $From 'bin'
if (-not (Test-Path -LiteralPath $bin -PathType Container)) { throw "no bin folder beside install.ps1" }
if (-not (Get-ChildItem -LiteralPath $bin -Filter '*.exe')) { throw "bin holds no programs" }
if (-not (Test-Path -LiteralPath (Join-Path $bin 'zarvo.exe'))) { throw "bin\zarvo.exe is missing" }

$manifest = Get-Content -LiteralPath (Join-Path $From 'manifest.json') -Raw | ConvertFrom-Json
$home_dir = Join-Path $env:LOCALAPPDATA 'Programs\zarvo'
$target = Join-Path $home_dir 'bin'

Section "Installing zarvo $($manifest.version)"
New-Item -ItemType Directory -Force -Path $target | Out-Null
Get-ChildItem -LiteralPath $bin -Filter '*.exe' | ForEach-Object {
    Copy-Item -LiteralPath $_.FullName -Destination $target -Force
    Step "copied $($_.Name)"
}
Copy-Item -LiteralPath $PSCommandPath -Destination $home_dir -Force

Section 'Configuration'
$config = Join-Path $env:USERPROFILE '.zarvo\config'
New-Item -ItemType Directory -Force -Path $config | Out-Null
$signers = Join-Path $config 'release-signers'
if (Test-Path -LiteralPath $signers) {
    Step 'release-signers kept'
} else {
    Copy-Item -LiteralPath (Join-Path $From 'config\release-signers') -Destination $signers
    Step 'release-signers installed'
}

Section 'PATH'
$user_path = [Environment]::GetEnvironmentVariable('Path', 'User')
if (-not $user_path) { $user_path = '' }
$rest = ($user_path -split ';' | Where-Object { $_ -and ($_ -ne $target) }) -join ';'
[Environment]::SetEnvironmentVariable('Path', ($target + ';' + $rest).TrimEnd(';'), 'User')
Step "$target is first on your PATH"

Section 'Done'
Step "zarvo $($manifest.version) is installed in $home_dir"

#!/usr/bin/perl
# An example publisher of the hardware monitor's block that "MBM arvot" reads, kept to the
# protocol in the README ("Publishing the block from another program"), in core Perl only.
# It publishes the values given on its command line, rewritten about once a second, until
# SIGINT, SIGTERM, SIGHUP or SIGQUIT, then removes the block:
#   example-sensor-publisher.pl [--block NAME] SLOT=VALUE...
# SLOT: Temp0..Temp9 (whole degrees Celsius), Fan0..Fan9 (RPM), Voltage0..Voltage9 (volts);
# a slot not given is 0. --block: another name, as kelvari-sensors takes it. For your own
# values, replace readings(). The struct flock packed below is that of 64-bit Linux.
use strict;
use warnings;
use Fcntl qw(O_RDWR O_CREAT O_NOFOLLOW F_SETLK F_WRLCK SEEK_SET);

my $usage = "usage: $0 [--block NAME] {Temp|Fan|Voltage}{0..9}=VALUE...\n";
my $name = '$M$B$M$5$D$';
my %values = (Temp => [(0) x 10], Fan => [(0) x 10], Voltage => [(0) x 10]);
while (@ARGV) {
  my $argument = shift @ARGV;
  if ($argument eq '--block' && @ARGV) { ($name = shift @ARGV) =~ s{^/}{}; next; }
  my ($kind, $slot, $value) = $argument =~ /^(Temp|Fan|Voltage)([0-9])=(.+)$/ or die $usage;
  my $valid = $kind eq 'Voltage' ? qr/^-?[0-9]+(\.[0-9]+)?$/ : qr/^-?[0-9]{1,9}$/;  # volts, or whole numbers
  die "$argument: not a valid value\n$usage" unless $value =~ $valid;
  $values{$kind}[$slot] = $value;
}
die "the block's name must be non-empty and without '/'\n" if $name eq '' || $name =~ m{/};
my $path = "/dev/shm/$name";

# The block's 165 bytes: temperatures at 0, voltages at 40, fans at 120, 0 at 160 and 164.
sub readings { return (@{$values{Temp}}, @{$values{Voltage}}, @{$values{Fan}}, 0, 0) }

sysopen(my $block, $path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600) or die "cannot open $path: $!\n";
my @held = stat $block;
die "$path is not a regular file of yours; not taking it over\n" unless -f _ && $held[4] == $>;
# struct flock { short l_type, l_whence; off_t l_start, l_len; pid_t l_pid; }: the whole file.
my $wholeFile = pack 's s x4 q q l x4', F_WRLCK, SEEK_SET, 0, 0, 0;
fcntl($block, F_SETLK, $wholeFile)
  or die $!{EAGAIN} || $!{EACCES} ? "$path is being published by another process\n" : "cannot lock $path: $!\n";
sub name_leads_to_block { my @named = lstat $path; return @named && $named[0] == $held[0] && $named[1] == $held[1] }
die "$path was removed or replaced meanwhile; start again\n" unless name_leads_to_block();
(chmod(0600, $block) && truncate($block, 165)) or die "cannot set up $path: $!\n";

my $running = 1;
$SIG{$_} = sub { $running = 0 } for qw(INT TERM HUP QUIT);
$| = 1;
print "publishing in $path about once a second; Ctrl-C ends it\n";
while ($running) {
  sysseek $block, 0, SEEK_SET;
  syswrite($block, pack('l<10 d<10 l<10 l< C', readings())) == 165 or warn "cannot rewrite $path: $!\n";
  sleep 1;
}
print name_leads_to_block() && unlink($path) ? "stopped; $path removed\n" : "stopped; $path was not ours any more\n";

#!/usr/bin/perl
# A null-modem cable between two of the guest's serial ports whose QEMU chardevs are FIFO pairs
# (-chardev pipe,path=X: the guest reads X.in and writes X.out). It reads both sides at once and
# keeps in memory what the other side cannot take yet, so a guest port that is slow to take
# bytes never makes the other port's device model wait: QEMU's usb-serial model writes its
# chardev blocking and would freeze the guest (and with a small cable of a few KiB, bytes were
# lost between two 16550 models). Usage: relay.pl A B; stops on SIGTERM.
use strict;
use warnings;
use Fcntl;

my ($a, $b) = @ARGV;
die "usage: relay.pl A B\n" unless defined $b;
sub fifo {
    sysopen(my $fh, $_[0], O_RDWR | O_NONBLOCK) or die "relay: $_[0]: $!\n";
    binmode $fh;
    return $fh;
}
# Each route: from the guest's output of one port to the guest's input of the other.
my @routes = ({ from => fifo("$a.out"), to => fifo("$b.in"), held => '' },
              { from => fifo("$b.out"), to => fifo("$a.in"), held => '' });
$SIG{TERM} = sub { exit 0 };
for (;;) {
    my ($rin, $win) = ('', '');
    for my $r (@routes) {
        vec($rin, fileno($r->{from}), 1) = 1;
        vec($win, fileno($r->{to}), 1) = 1 if length $r->{held};
    }
    my $n = select(my $rout = $rin, my $wout = $win, undef, undef);
    next if $n < 0 && $!{EINTR};
    die "relay: select: $!\n" if $n < 0;
    for my $r (@routes) {
        if (vec($rout, fileno($r->{from}), 1)) {
            my $got = sysread($r->{from}, my $buf, 65536);
            $r->{held} .= $buf if $got;
        }
        if (length $r->{held} && vec($wout, fileno($r->{to}), 1)) {
            my $put = syswrite($r->{to}, $r->{held});
            substr($r->{held}, 0, $put, '') if $put;
        }
    }
}

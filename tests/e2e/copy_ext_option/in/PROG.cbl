       COPY E.
       COPY F.
       COPY G.
